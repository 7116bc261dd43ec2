#pragma once

// The check run and the deletion of marked messages as the core sees them:
// the POP3 client's events filling and marking the message list, the status
// texts, the activity log lines, the hit counts saved after a check, and
// the deletion with its guard, its log block per deleted message (written
// once the server has answered QUIT) and the refill.
// The main window drives this with its buttons and progress window; the
// command line drives it directly.

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/activitylog.h"
#include "app/messagelist.h"
#include "base/prompts.h"
#include "mail/mspop3.h"
#include "mail/popsettings.h"
#include "rules/evaluate.h"
#include "settings/settingsstore.h"

namespace kelvane {

inline constexpr std::string_view kNeedUserNameText =
    "You need to enter your e-mail username in the settings.";
inline constexpr std::string_view kNeedServerText =
    "You need to enter the name of your mail server in the settings.";
inline constexpr std::string_view kNothingMarkedText = "There were no messages marked to delete!";
inline constexpr std::string_view kReallyDeleteText = "Really delete messages from server?";

// "N messages could not be kept and were not deleted".
std::string NotKeptText(int count);

// The Sender column: the address part of the From field; a field that
// cannot be split into an address is shown (and judged) as its trimmed text.
std::string ListSenderText(std::string_view from);

// The Date column: the date in the locale's short date format, a blank and
// its time format, the time left out at exactly midnight; the field as it
// came when it cannot be read.
std::string ListDateText(std::string_view date);

// What the window shows of a running check or deletion. Every method has a
// default that shows nothing.
class CheckView {
  public:
    virtual ~CheckView() = default;
    // The status line.
    virtual void Status(const std::string&) {}
    // The message label of the progress window.
    virtual void Progress(const std::string&) {}
    // Rows were added, marked or removed.
    virtual void RowsChanged() {}
    // A deletion was confirmed and is about to talk to the server.
    virtual void DeletionStarting() {}
    // The client canceled its call (the status line and the log have it).
    virtual void Canceled() {}
    // The client reported a connection error, a time-out or the cancel
    // (the status line and the log have it); the call ends with it.
    virtual void Failed(const std::string& /*text*/) {}
};

// The options of the general settings that steer a deletion.
struct DeletionOptions {
    bool manualMode = true;  // checking by hand, not unattended
    bool confirm = true;     // ask before deleting, in manual mode
    bool launch = false;     // launch the mail program when mail is left
};

struct DeletionResult {
    // False when nothing was deleted: a deletion was already running,
    // nothing was marked, or the user said No.
    bool ran = false;
    int marked = 0;
    int total = 0;
    // The marked messages deleted on the server: all of them, less those
    // whose copy could not be kept.
    int deleted = 0;
    // NotKeptText when some were left for want of a copy, and the cause of
    // the first.
    std::string keepError;
    std::string keepReason;
    // The list was left empty because the mail program is to be started.
    bool launchMailer = false;
    // Why the running total could not be raised; the deletion itself stands.
    std::string totalError;
};

class MailCheck {
  public:
    // The client's events are bound to this object for its whole life; all
    // references must outlive it.
    MailCheck(TmsRemotePOP& pop, MessageList& list, MessageEvaluator& evaluator, ActivityLog& log,
              CheckView& view);
    ~MailCheck();
    MailCheck(const MailCheck&) = delete;
    MailCheck& operator=(const MailCheck&) = delete;

    // Puts an account into the client. mailbox is the slot number the
    // header rules compare with (0 when no slot matches the account). A
    // session left open by a failed run of another account is closed.
    void LoadAccount(const PopSettings& account, int mailbox);
    int Mailbox() const { return mailbox_; }
    // The rows the list holds.
    std::size_t Listed() const { return list_.Count(); }

    // Keeps a copy of every message before it is deleted, in the Maildir
    // "Deleted" of where's program folder, as the settings KeepDeleted and
    // KeepMaxKB of where's per-user store say at each deletion; each
    // deletion also purges the copies older than KeepDays (none when it is
    // 0 or less). now is the copies' clock. Without this nothing is kept.
    void KeepCopiesIn(
        const Locations& where,
        std::function<std::time_t()> now = [] { return std::time(nullptr); });

    // The message for a missing user name (blank counts as missing) or
    // server, checked in that order; nothing when both are there.
    std::optional<std::string> MissingAccountText() const;

    // The header pass: empties the list, then fills it row by row as the
    // headers arrive, marking each row at once and all rows again at the
    // end. Throws when the pass fails; the rows that arrived stay listed.
    void UpdateInfo();
    bool Checking() const { return checking_; }

    // What follows a header pass that ran to its end (or whose failure was
    // swallowed): the "MAIL CHECK" log line for the rows listed.
    void LogMailCheck();

    // Ends the running pass or deletion. During a header pass the list is
    // emptied, since it would be incomplete.
    void Cancel();

    // Deletes the rows marked for deletion on the server, logs each one once
    // the server has carried the deletions out (QUIT answered), raises the
    // running total through addToTotal by the messages deleted (only once
    // the session ended in QUIT), then refills the list from the server unless
    // the mail program is to take over. Throws when the server work fails;
    // the guard is released on every way out.
    DeletionResult DeleteMessages(const DeletionOptions& options, UserPrompts& prompts,
                                  const std::function<void(int marked)>& addToTotal);
    bool Deleting() const { return deleting_; }

  private:
    void Bind();
    void Unbind();
    void NextInfoUpdated(int num);
    void InfoUpdated();
    void DeletingMessage(int num);
    // What the index says of the copy of the message at num.
    struct KeptMessage DescribeCopy(int num, std::string_view message, bool headersOnly) const;
    // The "DELETE SPAM" blocks of the messages the pass deleted.
    void LogDeleted();
    // Log lines written from inside the client's events must not replace
    // the error that is on its way to the user.
    template <typename Write>
    void QuietLog(Write write);

    TmsRemotePOP& pop_;
    MessageList& list_;
    MessageEvaluator& evaluator_;
    ActivityLog& log_;
    CheckView& view_;
    int mailbox_ = 0;
    bool checking_ = false;
    bool deleting_ = false;
    std::optional<Locations> keepWhere_;
    std::function<std::time_t()> keepNow_;
    std::vector<std::string> keptIds_;  // by list position, this deletion's copies
    std::vector<int> deleted_;          // positions a DELE went out for, this pass
};

// A deletion whose messages are gone on the server (QUIT was accepted) but
// whose refill listing failed. Marked() says how many were deleted.
class RefillError : public KelvaneError {
  public:
    RefillError(const std::string& message, int marked) : KelvaneError(message), marked_(marked) {}
    int Marked() const { return marked_; }

  private:
    int marked_;
};

// "There were N messages deleted".
std::string DeletedText(int marked);

// What the user is shown for an error of the mail connection. An error
// without text (the server closed before a whole reply line, or the reply
// began with a NUL byte) would show as nothing at all; it becomes "The
// server closed the connection (USER on SERVER)"; an empty reply line
// becomes "The server sent an empty reply (USER on SERVER)". The log keeps
// the error's own text.
std::string ShownErrorText(std::string_view text, std::string_view user, std::string_view server);

// The mark as printed and kept: none, delete, question, exception or
// known-spammer.
const char* MarkName(MessageMark mark);

// The error box of a failed check or deletion: which mailbox on which
// server, then what the server or the system said.
std::string FailedMailboxText(std::string_view text, std::string_view user,
                              std::string_view server);

}  // namespace kelvane
