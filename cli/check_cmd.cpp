// kelvane-cli check: checks a mailbox as the program's check run does, and
// with --delete removes what the rules marked, as the unattended run does.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/activitylog.h"
#include "app/checkrun.h"
#include "app/messagelist.h"
#include "cli/commands.h"
#include "mail/mspop3.h"
#include "rules/evaluate.h"
#include "settings/accounts.h"
#include "settings/keys.h"

namespace kelvane::cli {

namespace {

struct CheckArgs {
    int mailbox = 0;  // 0: the default mailbox
    bool all = false;
    bool remove = false;
    bool reasons = false;
    bool noPipelining = false;
};

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
    gInterrupted = 1;
}

// Ctrl-C or a TERM ends the connection at its next wait, without QUIT, so
// the server carries out none of the deletions of an unfinished pass.
class InterruptGuard {
  public:
    InterruptGuard() {
        gInterrupted = 0;
        struct sigaction sa {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &oldInt_);
        sigaction(SIGTERM, &sa, &oldTerm_);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

  private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// Progress for a person watching: one status line, rewritten in place, on
// a terminal only, so scripts and cron mail see nothing of it.
class TerminalView : public CheckView {
  public:
    TerminalView() : tty_(::isatty(STDERR_FILENO) == 1) {}
    ~TerminalView() override { Done(); }
    void Status(const std::string& text) override {
        if (!tty_) return;
        std::cerr << "\r\033[K" << OneLine(text) << std::flush;
        shown_ = true;
    }
    void Done() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }

  private:
    bool tty_;
    bool shown_ = false;
};

// The unattended run asks nothing.
class SilentPrompts : public UserPrompts {
  public:
    void Information(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
};

void PrintRows(const MessageList& list, const TmsRemotePOP& pop, MessageEvaluator& evaluator,
               int mailbox, bool reasons) {
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const MessageRow& row = list.Rows()[i];
        std::cout << i << "\t" << MarkName(row.mark) << "\t" << OneLine(row.subject) << "\t"
                  << OneLine(row.sender) << "\t" << row.size << "\t" << OneLine(row.date) << "\n";
        if (!reasons) continue;
        static const TmsHeaders kNoHeaders;
        const TmsHeaders& headers =
            i < pop.Info().Count() ? pop.Info().Item(i).Headers : kNoHeaders;
        PrintReasons(evaluator, row, headers, mailbox);
    }
    std::cout.flush();
}

// The running total of deleted spam, kept as decimal text.
void AddToTotal(const Locations& where, int marked) {
    SettingsStore user = SettingsStore::OpenUser(where);
    std::int32_t total = 0;
    if (!ParseStoredInteger(keys::Read(user, keys::Count), total)) total = 0;
    keys::Write(user, keys::Count, std::to_string(static_cast<long long>(total) + marked));
}

int Check(const Options& opts, const CheckArgs& args) {
    const Locations where = opts.Where();
    const std::string programDir = where.programDir;
    const SettingsStore user = SettingsStore::OpenUser(where);
    MailboxTable table;
    readServerSettings(user, table);

    RuleSet rules(programDir);
    MessageEvaluator& evaluator = rules.evaluator;
    // The log's name is read afresh at every opening, as the program does.
    ActivityLog log([where] { return keys::Read(SettingsStore::OpenUser(where), keys::Logfile); });

    InterruptGuard interrupts;
    TmsRemotePOP pop;
    MessageList list;
    TerminalView view;
    MailCheck check(pop, list, evaluator, log, view);
    bool canceled = false;
    pop.SetEventPump([&] {
        if (gInterrupted && !canceled) {
            canceled = true;
            check.Cancel();
        }
    });

    std::vector<int> slots;
    if (args.all) {
        for (int n = 1; n <= keys::MailboxSlots; ++n)
            slots.push_back(n);
    } else {
        slots.push_back(args.mailbox != 0 ? args.mailbox : keys::Read(user, keys::Which));
    }

    int status = kOk;
    const auto fail = [&](const std::string& text) {
        view.Done();
        std::cerr << text << "\n";
        status = kFailed;
    };
    for (int slot : slots) {
        if (canceled) break;
        PopSettings account = GetRemotePOPSettings(user, slot);
        if (args.noPipelining) account.pipelining = false;
        if (args.all && (account.host.empty() || account.userName.empty())) continue;
        check.LoadAccount(account, serverToIndex(table, account.host, account.userName));
        if (auto missing = check.MissingAccountText()) {
            fail(*missing);
            continue;
        }
        if (args.all)
            std::cout << "# mailbox " << slot << ": " << OneLine(account.userName) << " on "
                      << OneLine(account.host) << "\n";

        try {
            check.UpdateInfo();
        } catch (const KelvaneError& e) {
            fail(e.what());
            // A single check ends here, as on the screen. The walk over all
            // mailboxes goes on with the messages that did arrive, as the
            // unattended run does, unless the user interrupted it.
            if (!args.all || canceled) return status;
        }
        view.Done();
        check.LogMailCheck();
        PrintRows(list, pop, evaluator, check.Mailbox(), args.reasons);
        rules.spam.Savesettings(programDir, SaveMode::Automatic);

        if (!args.remove) continue;
        SilentPrompts prompts;
        DeletionOptions options;
        options.manualMode = false;
        DeletionResult result;
        try {
            result = check.DeleteMessages(options, prompts,
                                          [&](int marked) { AddToTotal(where, marked); });
        } catch (const KelvaneError& e) {
            // A failed deletion always ends the walk.
            fail(e.what());
            return status;
        }
        view.Done();
        std::cout << DeletedText(result.marked) << "\n";
        PrintRows(list, pop, evaluator, check.Mailbox(), args.reasons);
    }
    return status;
}

}  // namespace

void RegisterCheckCommands(CLI::App& app, Command& command) {
    auto args = std::make_shared<CheckArgs>();
    CLI::App* sub = app.add_subcommand(
        "check",
        "Check a mailbox: fetch the header block of every waiting message, judge it\n"
        "with the rule set, log the check and save the rules' hit counts. Prints one\n"
        "line per message: POSITION (from 0) TAB MARK TAB SUBJECT TAB SENDER TAB SIZE\n"
        "TAB DATE, MARK being none, delete, question, exception or known-spammer. A CR\n"
        "or LF inside a field is printed as a blank.\n"
        "With --delete, the messages marked delete or known-spammer are then deleted\n"
        "on the server without a question, \"There were N messages deleted\" is printed\n"
        "and then the messages left, in the same form.\n"
        "With --all, every mailbox slot with a server and a user name is checked in\n"
        "turn, each preceded by a line \"# mailbox N: USER on SERVER\"; a failed check\n"
        "goes on with the messages that arrived, a failed deletion ends the walk.\n"
        "Progress goes to standard error when it is a terminal. Exit status 1 when a\n"
        "check or deletion failed (the error on standard error), 2 for usage.");
    auto* mailbox = sub->add_option("--mailbox", args->mailbox,
                                    "Mailbox slot to check (default: the default mailbox)")
                        ->check(CLI::Range(1, 12));
    sub->add_flag("--all", args->all, "Check every configured mailbox, 1 to 12")->excludes(mailbox);
    sub->add_flag("--delete", args->remove, "Delete the messages marked for deletion");
    sub->add_flag("--no-pipelining", args->noPipelining,
                  "Send each command only after the reply to the last, even to a server that "
                  "offers pipelining");
    sub->add_flag("--reasons", args->reasons,
                  "After each message line, the report of why it got its mark, then an empty "
                  "line");
    sub->callback(
        [&command, args] { command = [args](const Options& o) { return Check(o, *args); }; });
}

}  // namespace kelvane::cli
