// kelvane-cli eval: judges saved messages with the rule set, offline, so a
// rule can be tried out before it meets the real mailbox.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/checkrun.h"
#include "base/fileio.h"
#include "base/text.h"
#include "cli/commands.h"
#include "mail/headers.h"
#include "rules/evaluate.h"
#include "settings/accounts.h"

namespace kelvane::cli {

namespace {

struct EvalArgs {
    int mailbox = 0;      // 0: no --mailbox
    long long size = -1;  // negative: the file's own size
    bool reasons = false;
    std::vector<std::string> files;
};

// A saved message is a header block and perhaps a body: a file much larger
// than any mail, or a device, is a mistake, not something to read forever.
constexpr std::size_t kMaxMessageFile = 64u << 20;

// The number the check run would hand the rules for slot n's connection.
int ConnectionIndex(const Options& opts, int slot) {
    if (slot == 0) return 0;
    MailboxTable table;
    readServerSettings(SettingsStore::OpenUser(opts.Where()), table);
    const MailboxAccount& a = table.slot(slot);
    return serverToIndex(table, a.server, a.userName);
}

int Evaluate(const Options& opts, const EvalArgs& args) {
    const std::string programDir = opts.Where().programDir;
    RuleSet rules(programDir);
    MessageEvaluator& evaluator = rules.evaluator;
    const int mailbox = ConnectionIndex(opts, args.mailbox);

    int status = kOk;
    for (const std::string& path : args.files) {
        FileContent file = ReadAnyFile(path, kMaxMessageFile);
        if (file.status == ReadStatus::Missing) {
            std::cerr << "File " << path << " not found\n";
            status = kFailed;
            continue;
        }
        if (file.status == ReadStatus::Unreadable) {
            std::cerr << path << ": " << file.error << "\n";
            status = kFailed;
            continue;
        }
        // Stored as the reply to "TOP n 1" is, so the rules see the same lines.
        TmsHeaders headers;
        headers.LoadFromText(file.data);
        CutHeadersAtBody(headers);

        MessageRow row;
        row.subject = GetHeaderValue(headers, "Subject");
        row.sender = ListSenderText(GetHeaderValue(headers, "From"));
        row.size = std::to_string(args.size >= 0 ? static_cast<unsigned long long>(args.size)
                                                 : file.data.size());
        row.mark = mmNone;
        evaluator.MarkForDeletion(row, headers, mailbox);

        std::cout << MarkName(row.mark) << "\t" << OneLine(row.sender) << "\t"
                  << OneLine(row.subject) << "\n";
        if (args.reasons) PrintReasons(evaluator, row, headers, mailbox);
    }
    std::cout.flush();
    return status;
}

}  // namespace

void RegisterEvalCommands(CLI::App& app, Command& command) {
    auto args = std::make_shared<EvalArgs>();
    CLI::App* eval = app.add_subcommand(
        "eval",
        "Judge saved messages with the rule set, changing no file and no hit count.\n"
        "Each FILE holds a message's header lines, optionally followed by an empty\n"
        "line and the body. Prints one line per file: MARK TAB sender TAB subject,\n"
        "MARK being none, delete, question, exception or known-spammer. A CR, LF or\n"
        "TAB inside a field is printed as a blank. A From that cannot be split into an\n"
        "address is judged with its raw text, trimmed, as the sender. A FILE may be a\n"
        "pipe or device too, and - is the standard input; at most 64 MiB are read.\n"
        "Exit status 1 when a file could not be read (the others are still judged).");
    eval->add_option("--mailbox", args->mailbox,
                     "Judge as on the connection of mailbox slot N (for rules that name a "
                     "mailbox)")
        ->check(CLI::Range(1, 12));
    eval->add_option("--size", args->size, "Message size in octets (default: the file's size)")
        ->check(CLI::NonNegativeNumber);
    eval->add_flag("--reasons", args->reasons,
                   "After each line, the report of why the message got its mark, then an "
                   "empty line");
    eval->add_option("FILE", args->files, "Saved message")->required();
    eval->callback(
        [&command, args] { command = [args](const Options& o) { return Evaluate(o, *args); }; });
}

}  // namespace kelvane::cli
