#pragma once

#include <functional>
#include <string>

#include "settings/settingsstore.h"

namespace CLI {
class App;
}

namespace kelvane::cli {

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsageError = 2;

struct Options {
    std::string dir;  // empty: the executable's folder
    Locations Where() const;
};

using Command = std::function<int(const Options&)>;

// Adds every subcommand to app; the one chosen stores its action in command.
void RegisterCommands(CLI::App& app, Options& opts, Command& command);

void RegisterMailboxCommands(CLI::App& app, Command& command);
void RegisterSettingsCommands(CLI::App& app, Command& command);
void RegisterEvalCommands(CLI::App& app, Command& command);

}  // namespace kelvane::cli
