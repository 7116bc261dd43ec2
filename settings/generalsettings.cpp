#include "settings/generalsettings.h"

#include "base/text.h"
#include "mail/tlslayer.h"

namespace kelvane {

const std::vector<GeneralKeyRow>& GeneralKeyRows() {
    using G = GeneralSettings;
    static const std::vector<GeneralKeyRow> rows = {
        {keys::Logfile, &G::logfile},
        {keys::Mailer, &G::mailer},
        {keys::AlarmFile, &G::alarmFile},
        {keys::Automatic, &G::automatic},
        {keys::Ask, &G::ask},
        {keys::Kill, &G::kill},
        {keys::Minutes, &G::minutes},
        {keys::Launch, &G::launch},
        {keys::Exit, &G::exit},
        {keys::Alarm, &G::alarm},
        {keys::Repeat, &G::repeat},
        {keys::RAS, &G::ras},
        {keys::Count, &G::count},
        {keys::SysTray, &G::sysTray},
        {keys::Pipelining, &G::pipelining},
        {keys::TimeOut, &G::timeOut},
        {keys::KeepDeleted, &G::keepDeleted},
        {keys::KeepDays, &G::keepDays},
        {keys::KeepMaxKB, &G::keepMaxKB},
        {keys::Notify, &G::notify},
    };
    return rows;
}

namespace {

// Reads or writes one row; the key's type and the member's always agree.
template <typename T, typename K>
void ReadRow(const SettingsStore& user, const K& key, T GeneralSettings::*field,
             GeneralSettings& s) {
    if constexpr (std::is_same_v<T, std::string> == std::is_same_v<K, keys::StringKey> &&
                  std::is_same_v<T, bool> == std::is_same_v<K, keys::BoolKey>)
        s.*field = keys::Read(user, key);
}

template <typename T, typename K>
void WriteRow(SettingsStore& user, const K& key, T GeneralSettings::*field,
              const GeneralSettings& s, const GeneralSettings* since) {
    if constexpr (std::is_same_v<T, std::string> == std::is_same_v<K, keys::StringKey> &&
                  std::is_same_v<T, bool> == std::is_same_v<K, keys::BoolKey>) {
        if (since && since->*field == s.*field) return;
        keys::Write(user, key, s.*field);
    }
}

}  // namespace

GeneralSettings GeneralSettings::Read(const SettingsStore& user) {
    GeneralSettings s;
    for (const GeneralKeyRow& row : GeneralKeyRows())
        std::visit([&](const auto& key, auto field) { ReadRow(user, key, field, s); }, row.key,
                   row.field);
    readServerSettings(user, s.table);
    return s;
}

void GeneralSettings::WriteGeneral(SettingsStore& user, const GeneralSettings* since) const {
    user.Batch([&] {
        for (const GeneralKeyRow& row : GeneralKeyRows())
            std::visit(
                [&](const auto& key, auto field) { WriteRow(user, key, field, *this, since); },
                row.key, row.field);
    });
}

void GeneralSettings::Write(SettingsStore& user, const GeneralSettings* since) const {
    user.Batch([&] {
        WriteGeneral(user, since);
        keys::Write(user, keys::Which, table.selected);
        for (int n = 1; n <= keys::MailboxSlots; ++n)
            WriteMailboxSlot(user, n, table.slot(n));
    });
}

namespace {

// The pin as kelvane-cli takes it: 64 hex digits, colons allowed, and only
// on a secured connection, where a certificate is shown at all.
std::optional<SaveServerResult> CheckFingerprint(int n, const MailboxAccount& a) {
    const std::string pin = Trim(a.fingerprint);
    if (pin.empty()) return std::nullopt;
    const std::string slot = "Mailbox " + std::to_string(n);
    if (!NormalizeFingerprint(pin))
        return SaveServerResult{
            false, n, slot + " - the fingerprint must be 64 hexadecimal digits (colons allowed)",
            AccountField::Fingerprint};
    if (a.security == ConnectionSecurity::None)
        return SaveServerResult{false, n, slot + " - a pinned fingerprint needs TLS or STARTTLS",
                                AccountField::Security};
    return std::nullopt;
}

// A token is as good as the password for as long as it lasts.
std::optional<SaveServerResult> CheckSignIn(int n, const MailboxAccount& a) {
    if (a.signIn != SignIn::XOAuth2 || a.security != ConnectionSecurity::None) return std::nullopt;
    return SaveServerResult{false, n,
                            "Mailbox " + std::to_string(n) +
                                " - OAuth 2.0 sign-in (XOAUTH2) needs TLS or STARTTLS: a token "
                                "never crosses a plain connection",
                            AccountField::Security};
}

}  // namespace

std::optional<SaveServerResult> GeneralSettings::Check() const {
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxAccount& a = table.slot(n);
        auto bad = CheckPasswordLength(n, a);
        if (!bad) bad = CheckAccountText(n, a);
        if (!bad) bad = CheckMailboxSlot(n, a);
        if (!bad) bad = CheckFingerprint(n, a);
        if (!bad) bad = CheckSignIn(n, a);
        if (bad) return bad;
    }
    return std::nullopt;
}

void GeneralSettings::NormalizeFingerprints() {
    for (MailboxAccount& a : table.slots)
        if (auto pin = NormalizeFingerprint(Trim(a.fingerprint))) a.fingerprint = *pin;
}

bool GeneralSettings::LaunchAfterDeletion() const {
    return launch && !TrimView(mailer).empty();
}

}  // namespace kelvane
