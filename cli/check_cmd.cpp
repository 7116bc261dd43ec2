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
#include "app/checkpolicy.h"
#include "app/checkrun.h"
#include "app/messagelist.h"
#include "cli/commands.h"
#include "mail/mspop3.h"
#include "rules/evaluate.h"
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

// Prints what the walk reports: the lines per message after each listing.
class PrintedReport : public WalkReport {
  public:
    PrintedReport(const TmsRemotePOP& pop, const MessageList& list, MessageEvaluator& evaluator,
                  TerminalView& view, bool reasons)
        : pop_(pop), list_(list), evaluator_(evaluator), view_(view), reasons_(reasons) {}

    void MailboxStarting(int slot, const PopSettings& account) override {
        std::cout << "# mailbox " << slot << ": " << OneLine(account.userName) << " on "
                  << OneLine(account.host) << "\n";
    }
    void Listed(const MailCheck& check) override {
        view_.Done();
        PrintRows(list_, pop_, evaluator_, check.Mailbox(), reasons_);
    }
    void Deleted(int marked) override {
        view_.Done();
        std::cout << DeletedText(marked) << "\n";
        std::cout.flush();
    }
    void Failed(const std::string& text) override {
        view_.Done();
        std::cerr << text << "\n";
    }

  private:
    const TmsRemotePOP& pop_;
    const MessageList& list_;
    MessageEvaluator& evaluator_;
    TerminalView& view_;
    bool reasons_;
};

int Check(const Options& opts, const CheckArgs& args) {
    const Locations where = opts.Where();
    RuleSet rules(where.programDir);
    // The log's name is read afresh at every opening, as the program does.
    ActivityLog log([where] { return keys::Read(SettingsStore::OpenUser(where), keys::Logfile); });

    InterruptGuard interrupts;
    TmsRemotePOP pop;
    MessageList list;
    TerminalView view;
    MailCheck check(pop, list, rules.evaluator, log, view);
    bool canceled = false;
    pop.SetEventPump([&] {
        if (gInterrupted && !canceled) {
            canceled = true;
            check.Cancel();
        }
    });

    WalkOptions walk;
    walk.all = args.all;
    walk.mailbox = args.mailbox;
    walk.remove = args.remove;
    walk.noPipelining = args.noPipelining;
    PrintedReport report(pop, list, rules.evaluator, view, args.reasons);
    const bool ok = RunChecks(check, rules, where, walk, report, [&] { return canceled; });
    return ok ? kOk : kFailed;
}

}  // namespace

void RegisterCheckCommands(CLI::App& app, Command& command) {
    auto args = std::make_shared<CheckArgs>();
    CLI::App* sub = app.add_subcommand(
        "check",
        "Check a mailbox: fetch the header block of every waiting message, judge it\n"
        "with the rule set, log the check and save the rules' hit counts. Prints one\n"
        "line per message: POSITION (from 0) TAB MARK TAB SUBJECT TAB SENDER TAB SIZE\n"
        "TAB DATE, MARK being none, delete, question, exception or known-spammer. A CR,\n"
        "LF or TAB inside a field is printed as a blank.\n"
        "With --delete, the messages marked delete or known-spammer are then deleted\n"
        "on the server without a question, \"There were N messages deleted\" is printed\n"
        "and then the messages left, in the same form. Each is first kept whole in the\n"
        "Maildir Deleted of the program folder (see kelvane-cli deleted; setting\n"
        "KeepDeleted); one that cannot be kept is not deleted, and the exit status is 1.\n"
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
