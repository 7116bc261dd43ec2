#pragma once

// The twelve mailbox slots of the per-user store (section Server), their
// validation when the general settings dialog is confirmed, and the mapping
// between a POP3 connection and its slot.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/popsettings.h"
#include "settings/secretstore.h"
#include "settings/settingsstore.h"

namespace kelvane {

// Where a slot's password comes from: scrambled in the settings file, the
// desktop's keyring (item "server" = the slot's server text, "user" = its
// user name), or the first line a command prints at each check.
enum class PasswordSource { File, Keyring, Command };

struct MailboxAccount {
    std::string server;  // empty: the slot is not in use
    std::string userName;
    // In clear. Read from the store only for the file; a keyring slot's is
    // here only while it is being saved.
    std::string password;
    ConnectionSecurity security = ConnectionSecurity::None;
    std::string fingerprint = {};  // pinned server certificate, as stored
    PasswordSource passwordSource = PasswordSource::File;
    std::string passwordCommand = {};  // with PasswordSource::Command
    SignIn signIn = SignIn::UserPass;
};

// The mailbox page of the general settings dialog: twelve rows and the
// radio button of the default mailbox.
struct MailboxTable {
    std::array<MailboxAccount, 12> slots;  // slot N is slots[N - 1]
    int selected = 1;                      // the radio button, 1 to 12
    int defaultMailbox = 1;                // the number last read or saved, maybe outside 1-12

    MailboxAccount& slot(int n) { return slots.at(static_cast<std::size_t>(n - 1)); }
    const MailboxAccount& slot(int n) const { return slots.at(static_cast<std::size_t>(n - 1)); }
};

enum class AccountField { None, Server, UserName, Password, Security, Fingerprint };

// The outcome of saving the table: on failure, the slot, the message for an
// error box and the field that takes the focus (on the "Mailboxes" page).
struct SaveServerResult {
    bool ok = true;
    int slot = 0;
    std::string message;
    AccountField focus = AccountField::None;
};

std::string ServerKey(int n);
std::string MailboxKey(int n);
std::string PasswdKey(int n);
std::string SecurityKey(int n);
std::string FingerprintKey(int n);
std::string PasswordStoreKey(int n);
std::string PasswordCommandKey(int n);
std::string AuthKey(int n);

// "file", "keyring", "command" as stored and listed; parsing ignores case.
const char* PasswordSourceName(PasswordSource source);
std::optional<PasswordSource> ParsePasswordSource(std::string_view name);
// "user" (USER and PASS) and "xoauth2".
const char* SignInName(SignIn signIn);
std::optional<SignIn> ParseSignIn(std::string_view name);

// The stored security choice: missing or "0" is none, "2" STLS; any other
// value is TLS, so a damaged entry never turns into a plain login.
ConnectionSecurity ReadSecurity(const SettingsStore& user, int n);
// "none", "tls", "starttls".
const char* SecurityName(ConnectionSecurity security);

// Stores Which, then slot after slot, checking each as it goes; the first
// slot that fails stops the pass, so later slots keep their stored values.
// A password longer than the scrambling takes, or a value CheckAccountText
// refuses, stops the pass before its slot is written.
SaveServerResult saveServerSettings(SettingsStore& user, MailboxTable& table);

// The checks of one slot, in the order the dialog makes them.
std::optional<SaveServerResult> CheckMailboxSlot(int n, const MailboxAccount& account);
std::optional<SaveServerResult> CheckPasswordLength(int n, const MailboxAccount& account);
// A CR, LF or NUL in the server or user name would end the POP3 command
// line early and send the rest as a command of its own. (The password may
// hold any byte: it is scrambled in the store.)
std::optional<SaveServerResult> CheckAccountText(int n, const MailboxAccount& account);
// Writes one slot, the password scrambled. The security keys are written
// only once they are stored or differ from their defaults.
void WriteMailboxSlot(SettingsStore& user, int n, const MailboxAccount& account);

// Fills the table from the store. A stored Which outside 1-12 leaves the
// radio button as it was, while the number is still the default mailbox.
void readServerSettings(const SettingsStore& user, MailboxTable& table);

// Slot n as it is stored (never the dialog's unconfirmed edits), with the
// wait limit of section General. The password is the file's only: see
// FetchSlotPassword.
PopSettings GetRemotePOPSettings(const SettingsStore& user, int n);

// Before a check connects: fills account.password from the keyring or the
// password command of slot n (nothing to do for the file). Throws
// KelvaneError with the text the user is shown, e.g. "The password command
// of mailbox N failed: DETAIL", so that nothing is sent to the server. Also
// refuses XOAUTH2 over a plain connection. Never changes the store.
void FetchSlotPassword(const SettingsStore& user, int n, PopSettings& account,
                       SecretStore& secrets);

// Puts a typed password (a.password) where it is safest: the keyring when
// one answers (a.passwordSource becomes Keyring), else the file (File);
// detail then says why. The slot itself is written by WriteMailboxSlot.
bool StoreSlotPassword(SecretStore& secrets, MailboxAccount& a, std::string* detail = {});

// The stderr and dialog line for a password kept in the file because no
// keyring took it.
std::string NoKeyringText(int n);

// Moves slot n's scrambled password into the keyring and empties PasswdN.
// NoKeyring and the others leave the slot unchanged.
enum class MoveOutcome { Moved, AlreadyThere, NoPassword, FromCommand, NoKeyring };
MoveOutcome MovePasswordToKeyring(SettingsStore& user, SecretStore& secrets, int n);

// Removes the keyring item of a slot that keeps its password there (before
// the slot is emptied or points elsewhere). False when no keyring answered.
bool ForgetKeyringPassword(SecretStore& secrets, const MailboxAccount& was);

// The keyring side of saving slot n as edited (a) over the slot as stored
// (was), before the checks; `mailbox set` and the dialog's OK share it.
// a.passwordSource is the wanted one; typed: a.password was given. A
// keyring slot pointed at another server or user with no password given
// takes its old item's password along. A password bound for the keyring
// counts as the file's until StoreSlotPassword has placed it (toKeyring),
// and a keyring slot with nothing to keep counts as a file slot without a
// password, so CheckMailboxSlot asks for one.
struct SlotPasswordStep {
    bool toKeyring = false;
    // No keyring answered for the old item; the caller says how to give it.
    std::optional<SaveServerResult> refusal;
};
SlotPasswordStep PrepareSlotPassword(int n, SecretStore& secrets, const MailboxAccount& was,
                                     MailboxAccount& a, bool typed);
// After the slot is written: removes the item was kept when now no longer
// uses it, so it is neither left behind nor used again should the slot come
// back to that server.
void ForgetReplacedKeyringPassword(SecretStore& secrets, const MailboxAccount& was,
                                   const MailboxAccount& now);

// The first slot whose server and user name equal host and user, case
// ignored; 0 when none does.
int serverToIndex(const MailboxTable& table, const std::string& host, const std::string& user);

// The mailbox chooser: shown for a manual check only when one of slots 2-12
// has a server.
bool NeedsChooser(const MailboxTable& table);
struct ChooserEntry {
    int slot;
    std::string text;  // "%d) Mailbox %s - Server %s"
};
std::vector<ChooserEntry> ChooserEntries(const MailboxTable& table);
// The index of the current mailbox's entry, or -1 when it has none.
int ChooserPreselect(const std::vector<ChooserEntry>& entries, int current);
// The number in front of the first ")" of an entry.
std::optional<int> ChooserNumber(const std::string& entry);

// A new user: slot 1 has neither server nor user name.
bool IsNewUser(const MailboxTable& table);

}  // namespace kelvane
