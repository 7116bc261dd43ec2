#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace kelvane::cli {

Locations Options::Where() const {
    Locations where = Locations::Default();
    if (!dir.empty()) where.programDir = dir;
    return where;
}

void RegisterCommands(CLI::App& app, Options&, Command& command) {
    RegisterMailboxCommands(app, command);
    RegisterSettingsCommands(app, command);
    RegisterEvalCommands(app, command);
}

}  // namespace kelvane::cli
