#include "settings/accounts.h"

#include <cstdio>
#include <string_view>

#include "base/error.h"
#include "base/text.h"
#include "settings/encrypt.h"
#include "settings/keys.h"
#include "settings/passwordcommand.h"

namespace kelvane {

namespace {

template <typename... Args>
std::string Format(const char* fmt, Args... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string out(static_cast<std::size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, fmt, args...);
    return out;
}

}  // namespace

std::string ServerKey(int n) {
    return keys::ServerPrefix + std::to_string(n);
}
std::string MailboxKey(int n) {
    return keys::MailboxPrefix + std::to_string(n);
}
std::string PasswdKey(int n) {
    return keys::PasswdPrefix + std::to_string(n);
}

std::string SecurityKey(int n) {
    return keys::SecurityPrefix + std::to_string(n);
}
std::string FingerprintKey(int n) {
    return keys::FingerprintPrefix + std::to_string(n);
}

std::string PasswordStoreKey(int n) {
    return keys::PasswordStorePrefix + std::to_string(n);
}
std::string PasswordCommandKey(int n) {
    return keys::PasswordCommandPrefix + std::to_string(n);
}
std::string AuthKey(int n) {
    return keys::AuthPrefix + std::to_string(n);
}

const char* PasswordSourceName(PasswordSource source) {
    switch (source) {
        case PasswordSource::Keyring:
            return "keyring";
        case PasswordSource::Command:
            return "command";
        default:
            return "file";
    }
}

std::optional<PasswordSource> ParsePasswordSource(std::string_view name) {
    for (PasswordSource s :
         {PasswordSource::File, PasswordSource::Keyring, PasswordSource::Command})
        if (AsciiIEquals(TrimView(name), PasswordSourceName(s))) return s;
    return std::nullopt;
}

const char* SignInName(SignIn signIn) {
    return signIn == SignIn::XOAuth2 ? "xoauth2" : "user";
}

std::optional<SignIn> ParseSignIn(std::string_view name) {
    for (SignIn s : {SignIn::UserPass, SignIn::XOAuth2})
        if (AsciiIEquals(TrimView(name), SignInName(s))) return s;
    return std::nullopt;
}

namespace {

// A damaged entry reads as the file, where an earlier version kept every
// password.
PasswordSource ReadPasswordSource(const SettingsStore& user, int n) {
    return ParsePasswordSource(user.ReadString(keys::ServerSection, PasswordStoreKey(n), ""))
        .value_or(PasswordSource::File);
}

SignIn ReadSignIn(const SettingsStore& user, int n) {
    return ParseSignIn(user.ReadString(keys::ServerSection, AuthKey(n), ""))
        .value_or(SignIn::UserPass);
}

}  // namespace

ConnectionSecurity ReadSecurity(const SettingsStore& user, int n) {
    const std::string stored = Trim(user.ReadString(keys::ServerSection, SecurityKey(n), ""));
    int32_t value = -1;
    if (stored.empty() || (ParseStoredInteger(stored, value) && value == 0))
        return ConnectionSecurity::None;
    return value == 2 ? ConnectionSecurity::StartTls : ConnectionSecurity::Tls;
}

const char* SecurityName(ConnectionSecurity security) {
    switch (security) {
        case ConnectionSecurity::Tls:
            return "tls";
        case ConnectionSecurity::StartTls:
            return "starttls";
        default:
            return "none";
    }
}

std::optional<SaveServerResult> CheckMailboxSlot(int n, const MailboxAccount& a) {
    if (!a.server.empty() && a.userName.empty())
        return SaveServerResult{
            false, n, Format("Mailbox %d has a server %s but no mailbox", n, a.server.c_str()),
            AccountField::UserName};
    if (a.server.empty() && !a.userName.empty())
        return SaveServerResult{false, n,
                                Format("Mailbox %d %s has a blank server", n, a.userName.c_str()),
                                AccountField::Server};
    // A keyring slot's password is in the keyring, not in the table.
    const bool needs = !a.server.empty() && !a.userName.empty();
    if (needs && a.passwordSource == PasswordSource::File && a.password.empty())
        return SaveServerResult{false, n, Format("Mailbox %d - there is no password set", n),
                                AccountField::Password};
    if (needs && a.passwordSource == PasswordSource::Command && IsBlankText(a.passwordCommand))
        return SaveServerResult{false, n,
                                Format("Mailbox %d - there is no password command set", n),
                                AccountField::Password};
    return std::nullopt;
}

std::optional<SaveServerResult> CheckPasswordLength(int n, const MailboxAccount& a) {
    if (a.password.size() <= kMaxPasswordLength) return std::nullopt;
    return SaveServerResult{false, n,
                            Format("Mailbox %d - the password is longer than 255 characters", n),
                            AccountField::Password};
}

std::optional<SaveServerResult> CheckAccountText(int n, const MailboxAccount& a) {
    const auto bad = [](const std::string& text) {
        return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
    };
    const auto refuse = [n](const char* what, AccountField field) {
        return SaveServerResult{
            false, n,
            Format("Mailbox %d - the %s must not contain a line break or a NUL character", n, what),
            field};
    };
    if (bad(a.server)) return refuse("server", AccountField::Server);
    if (bad(a.userName)) return refuse("user name", AccountField::UserName);
    return std::nullopt;
}

void WriteMailboxSlot(SettingsStore& user, int n, const MailboxAccount& a) {
    // One change: a slot must never pair one account's server with
    // another's password.
    user.Batch([&] {
        user.WriteString(keys::ServerSection, ServerKey(n), a.server);
        user.WriteString(keys::ServerSection, MailboxKey(n), a.userName);
        // Only the file's password is written: a keyring slot's stays out.
        const bool inFile = a.passwordSource == PasswordSource::File;
        user.WriteString(keys::ServerSection, PasswdKey(n),
                         EncodeStoredPassword(ScrambleText(inFile ? a.password : "", n)));
        if (!inFile || user.Has(keys::ServerSection, PasswordStoreKey(n)))
            user.WriteString(keys::ServerSection, PasswordStoreKey(n),
                             PasswordSourceName(a.passwordSource));
        const bool command = a.passwordSource == PasswordSource::Command;
        if (command || user.Has(keys::ServerSection, PasswordCommandKey(n)))
            user.WriteString(keys::ServerSection, PasswordCommandKey(n),
                             command ? a.passwordCommand : "");
        if (a.signIn != SignIn::UserPass || user.Has(keys::ServerSection, AuthKey(n)))
            user.WriteString(keys::ServerSection, AuthKey(n), SignInName(a.signIn));
        // Stores written before these keys existed stay as they were.
        if (a.security != ConnectionSecurity::None || user.Has(keys::ServerSection, SecurityKey(n)))
            user.WriteInteger(keys::ServerSection, SecurityKey(n), static_cast<int>(a.security));
        if (!a.fingerprint.empty() || user.Has(keys::ServerSection, FingerprintKey(n)))
            user.WriteString(keys::ServerSection, FingerprintKey(n), a.fingerprint);
    });
}

SaveServerResult saveServerSettings(SettingsStore& user, MailboxTable& table) {
    SaveServerResult result;
    // The whole page is one change of the store, up to the slot that stops it.
    user.Batch([&] {
        keys::Write(user, keys::Which, table.selected);
        table.defaultMailbox = table.selected;
        for (int n = 1; n <= keys::MailboxSlots; ++n) {
            const MailboxAccount& a = table.slot(n);
            auto bad = CheckPasswordLength(n, a);
            if (!bad) bad = CheckAccountText(n, a);
            if (!bad) {
                WriteMailboxSlot(user, n, a);
                bad = CheckMailboxSlot(n, a);
            }
            if (bad) {
                result = *bad;
                return;
            }
        }
    });
    return result;
}

namespace {

std::string ReadPassword(const SettingsStore& user, int n) {
    std::string scrambled =
        DecodeStoredPassword(user.ReadString(keys::ServerSection, PasswdKey(n), ""));
    // Anything longer was not written by us; an empty password asks the user again.
    if (scrambled.size() > kMaxPasswordLength) return {};
    return UnscrambleText(scrambled, n);
}

}  // namespace

void readServerSettings(const SettingsStore& user, MailboxTable& table) {
    int which = keys::Read(user, keys::Which);
    if (which >= 1 && which <= keys::MailboxSlots) table.selected = which;
    table.defaultMailbox = which;
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        MailboxAccount& a = table.slot(n);
        a.server = user.ReadString(keys::ServerSection, ServerKey(n), "");
        a.userName = user.ReadString(keys::ServerSection, MailboxKey(n), "");
        a.password = ReadPassword(user, n);
        a.security = ReadSecurity(user, n);
        a.fingerprint = user.ReadString(keys::ServerSection, FingerprintKey(n), "");
        a.passwordSource = ReadPasswordSource(user, n);
        a.passwordCommand = user.ReadString(keys::ServerSection, PasswordCommandKey(n), "");
        a.signIn = ReadSignIn(user, n);
        if (a.passwordSource != PasswordSource::File) a.password.clear();
    }
}

PopSettings GetRemotePOPSettings(const SettingsStore& user, int n) {
    PopSettings p;
    p.host = user.ReadString(keys::ServerSection, ServerKey(n), "");
    p.userName = user.ReadString(keys::ServerSection, MailboxKey(n), "");
    if (ReadPasswordSource(user, n) == PasswordSource::File) p.password = ReadPassword(user, n);
    p.signIn = ReadSignIn(user, n);
    p.slot = n;
    p.pipelining = keys::Read(user, keys::Pipelining);
    p.security = ReadSecurity(user, n);
    p.fingerprint = Trim(user.ReadString(keys::ServerSection, FingerprintKey(n), ""));
    const int timeOut = keys::Read(user, keys::TimeOut);
    // No limit at all would end every wait at once.
    p.timeOut = timeOut > 0 ? timeOut : keys::TimeOut.def;
    return p;
}

void FetchSlotPassword(const SettingsStore& user, int n, PopSettings& account,
                       SecretStore& secrets) {
    if (account.signIn == SignIn::XOAuth2 && account.security == ConnectionSecurity::None)
        throw KelvaneError(
            Format("Mailbox %d signs in with an OAuth 2.0 token, which never "
                   "crosses a plain connection: choose tls or starttls",
                   n));
    switch (ReadPasswordSource(user, n)) {
        case PasswordSource::File:
            return;
        case PasswordSource::Keyring: {
            const SecretStore::Lookup found = secrets.Find(account.host, account.userName);
            if (found.status == SecretStore::Status::Found) {
                account.password = found.secret;
                return;
            }
            if (found.status == SecretStore::Status::Missing)
                throw KelvaneError(Format("The keyring holds no password for mailbox %d (%s on %s)",
                                          n, account.userName.c_str(), account.host.c_str()));
            throw KelvaneError(Format("No keyring answered for the password of mailbox %d: %s", n,
                                      found.detail.c_str()));
        }
        case PasswordSource::Command: {
            const std::string command =
                user.ReadString(keys::ServerSection, PasswordCommandKey(n), "");
            CommandSecret got = IsBlankText(command) ? CommandSecret{false, {}, "no command is set"}
                                                     : RunPasswordCommand(command, account.timeOut);
            if (!got.ok)
                throw KelvaneError(
                    Format("The password command of mailbox %d failed: %s", n, got.detail.c_str()));
            account.password = std::move(got.secret);
            return;
        }
    }
}

std::string NoKeyringText(int n) {
    return Format("No keyring answered: the password of mailbox %d is kept in the settings file",
                  n);
}

bool StoreSlotPassword(SecretStore& secrets, MailboxAccount& a, std::string* detail) {
    std::string why;
    const bool stored = secrets.Store(a.server, a.userName, a.password, why);
    a.passwordSource = stored ? PasswordSource::Keyring : PasswordSource::File;
    if (detail) *detail = why;
    return stored;
}

MoveOutcome MovePasswordToKeyring(SettingsStore& user, SecretStore& secrets, int n) {
    MailboxTable table;
    readServerSettings(user, table);
    MailboxAccount a = table.slot(n);
    if (a.passwordSource == PasswordSource::Keyring) return MoveOutcome::AlreadyThere;
    if (a.passwordSource == PasswordSource::Command) return MoveOutcome::FromCommand;
    if (a.server.empty() || a.password.empty()) return MoveOutcome::NoPassword;
    if (!StoreSlotPassword(secrets, a)) return MoveOutcome::NoKeyring;
    // Written only once the keyring holds it: the file's copy is the last.
    WriteMailboxSlot(user, n, a);
    return MoveOutcome::Moved;
}

bool ForgetKeyringPassword(SecretStore& secrets, const MailboxAccount& was) {
    if (was.passwordSource != PasswordSource::Keyring || was.server.empty()) return true;
    return secrets.Remove(was.server, was.userName);
}

namespace {

bool PointsElsewhere(const MailboxAccount& was, const MailboxAccount& now) {
    return now.server != was.server || now.userName != was.userName;
}

}  // namespace

SlotPasswordStep PrepareSlotPassword(int n, SecretStore& secrets, const MailboxAccount& was,
                                     MailboxAccount& a, bool typed) {
    SlotPasswordStep step;
    if (a.passwordSource != PasswordSource::Keyring) return step;
    const bool kept = was.passwordSource == PasswordSource::Keyring && !was.server.empty();
    // A keyring item belongs to one server and user.
    if (!typed && kept && PointsElsewhere(was, a)) {
        const SecretStore::Lookup old = secrets.Find(was.server, was.userName);
        if (old.status == SecretStore::Status::Unavailable) {
            step.refusal = SaveServerResult{
                false, n,
                Format("No keyring answered: the password of mailbox %d cannot go with the new "
                       "server or user",
                       n),
                AccountField::Password};
            return step;
        }
        if (old.status == SecretStore::Status::Found) {
            a.password = old.secret;
            typed = true;
        }
    } else if (!typed && kept) {
        return step;  // the stored item stays
    }
    a.passwordSource = PasswordSource::File;
    step.toKeyring = typed;
    return step;
}

void ForgetReplacedKeyringPassword(SecretStore& secrets, const MailboxAccount& was,
                                   const MailboxAccount& now) {
    if (was.passwordSource == PasswordSource::Keyring &&
        (PointsElsewhere(was, now) || now.passwordSource != PasswordSource::Keyring))
        ForgetKeyringPassword(secrets, was);
}

int serverToIndex(const MailboxTable& table, const std::string& host, const std::string& user) {
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxAccount& a = table.slot(n);
        if (AsciiIEquals(a.server, host) && AsciiIEquals(a.userName, user)) return n;
    }
    return 0;
}

bool NeedsChooser(const MailboxTable& table) {
    for (int n = 2; n <= keys::MailboxSlots; ++n)
        if (!table.slot(n).server.empty()) return true;
    return false;
}

std::vector<ChooserEntry> ChooserEntries(const MailboxTable& table) {
    std::vector<ChooserEntry> out;
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxAccount& a = table.slot(n);
        if (a.server.empty()) continue;
        out.push_back(
            {n, Format("%d) Mailbox %s - Server %s", n, a.userName.c_str(), a.server.c_str())});
    }
    return out;
}

int ChooserPreselect(const std::vector<ChooserEntry>& entries, int current) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].slot == current) return static_cast<int>(i);
    return -1;
}

std::optional<int> ChooserNumber(const std::string& entry) {
    auto close = entry.find(')');
    if (close == std::string::npos) return std::nullopt;
    int32_t v = 0;
    if (!ParseStoredInteger(entry.substr(0, close), v)) return std::nullopt;
    return v;
}

bool IsNewUser(const MailboxTable& table) {
    return table.slot(1).server.empty() && table.slot(1).userName.empty();
}

}  // namespace kelvane
