#include "settings/accounts.h"

#include <cstdio>
#include <string_view>

#include "base/text.h"
#include "settings/encrypt.h"
#include "settings/keys.h"

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
    if (!a.server.empty() && !a.userName.empty() && a.password.empty())
        return SaveServerResult{false, n, Format("Mailbox %d - there is no password set", n),
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
        user.WriteString(keys::ServerSection, PasswdKey(n),
                         EncodeStoredPassword(ScrambleText(a.password, n)));
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
    }
}

PopSettings GetRemotePOPSettings(const SettingsStore& user, int n) {
    PopSettings p;
    p.host = user.ReadString(keys::ServerSection, ServerKey(n), "");
    p.userName = user.ReadString(keys::ServerSection, MailboxKey(n), "");
    p.password = ReadPassword(user, n);
    p.pipelining = keys::Read(user, keys::Pipelining);
    p.security = ReadSecurity(user, n);
    p.fingerprint = Trim(user.ReadString(keys::ServerSection, FingerprintKey(n), ""));
    const int timeOut = keys::Read(user, keys::TimeOut);
    // No limit at all would end every wait at once.
    p.timeOut = timeOut > 0 ? timeOut : keys::TimeOut.def;
    return p;
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
