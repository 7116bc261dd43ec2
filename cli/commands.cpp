#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <iostream>

namespace kelvane::cli {

Locations Options::Where() const {
    Locations where = Locations::Default();
    if (!dir.empty()) where.programDir = dir;
    return where;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return text;
}

RuleSet::RuleSet(const std::string& programDir) : kelvane::RuleSet(programDir) {
    for (const std::string& w : warnings)
        std::cerr << w << "\n";
}

void PrintReasons(MessageEvaluator& evaluator, const MessageRow& row, const TmsHeaders& headers,
                  int mailbox) {
    for (std::string& line : ReasonsReport(evaluator, row, headers, mailbox))
        std::cout << OneLine(std::move(line)) << "\n";
    std::cout << "\n";
}

void RegisterCommands(CLI::App& app, Options&, Command& command) {
    RegisterMailboxCommands(app, command);
    RegisterSettingsCommands(app, command);
    RegisterEvalCommands(app, command);
    RegisterCheckCommands(app, command);
    RegisterDeletedCommands(app, command);
    RegisterAutostartCommands(app, command);
}

}  // namespace kelvane::cli
