#pragma once

#include <functional>
#include <string>

#include "app/checkpolicy.h"
#include "rules/evaluate.h"
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
void RegisterCheckCommands(CLI::App& app, Command& command);
void RegisterDeletedCommands(CLI::App& app, Command& command);
void RegisterAutostartCommands(CLI::App& app, Command& command);

// A header can carry a bare CR, LF or TAB after decoding; one message must
// stay one output line of fixed columns for scripts reading it.
std::string OneLine(std::string text);

// The rule set of the program folder; warnings about damaged lists go to
// stderr.
struct RuleSet : kelvane::RuleSet {
    explicit RuleSet(const std::string& programDir);
};

// The reasons report of one row, one line each, then an empty line.
void PrintReasons(MessageEvaluator& evaluator, const MessageRow& row, const TmsHeaders& headers,
                  int mailbox);

}  // namespace kelvane::cli
