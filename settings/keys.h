#pragma once

// The one table of settings keys and their defaults. Every reader and writer
// takes its section, key and default from here.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/settingsstore.h"

namespace kelvane::keys {

struct StringKey {
    const char* section;
    const char* key;
    const char* def;
};
struct IntKey {
    const char* section;
    const char* key;
    int32_t def;
};
struct BoolKey {
    const char* section;
    const char* key;
    bool def;
};

// Per-user store, section General (written by the general settings dialog).
inline constexpr StringKey Logfile{"General", "Logfile", ""};
inline constexpr StringKey Mailer{"General", "Mailer", ""};
inline constexpr StringKey AlarmFile{"General", "AlarmFile", ""};
inline constexpr BoolKey Automatic{"General", "Automatic", false};
inline constexpr BoolKey Ask{"General", "Ask", true};
inline constexpr BoolKey Kill{"General", "Kill", false};
inline constexpr IntKey Minutes{"General", "Minutes", 10};
inline constexpr BoolKey Launch{"General", "Launch", true};
inline constexpr BoolKey Exit{"General", "Exit", false};
inline constexpr BoolKey Alarm{"General", "Alarm", true};
inline constexpr BoolKey Repeat{"General", "Repeat", true};
inline constexpr IntKey RAS{"General", "RAS", 0};
inline constexpr StringKey Count{"General", "Count", "0"};  // decimal text, shown as stored
inline constexpr BoolKey SysTray{"General", "SysTray", false};
inline constexpr IntKey Points{"General", "Points", 0};
// "0" for servers that announce PIPELINING and get it wrong.
inline constexpr BoolKey Pipelining{"General", "Pipelining", true};
inline constexpr IntKey TimeOut{"General", "TimeOut", 60};  // seconds, every network wait
// A copy of every message is kept before it is deleted (folder "Deleted"),
// for KeepDays days; one above KeepMaxKB KiB is kept as its header block.
inline constexpr BoolKey KeepDeleted{"General", "KeepDeleted", true};
inline constexpr IntKey KeepDays{"General", "KeepDays", 30};
inline constexpr IntKey KeepMaxKB{"General", "KeepMaxKB", 1024};
// "0": no desktop notification after an unattended run.
inline constexpr BoolKey Notify{"General", "Notify", true};

// Per-user store, section Server: the default mailbox and the twelve slots
// (Server1 ... Server12 and so on, built by the accounts code).
inline constexpr const char* ServerSection = "Server";
inline constexpr IntKey Which{"Server", "Which", 1};
inline constexpr const char* ServerPrefix = "Server";
inline constexpr const char* MailboxPrefix = "Mailbox";
inline constexpr const char* PasswdPrefix = "Passwd";
inline constexpr const char* SecurityPrefix = "Security";        // "0" none, "1" TLS, "2" STLS
inline constexpr const char* FingerprintPrefix = "Fingerprint";  // pinned SHA-256, or empty
// Where PasswdN's password really lives: "file" (also when missing),
// "keyring" or "command" (PasswordCommandN prints it).
inline constexpr const char* PasswordStorePrefix = "PasswordStore";
inline constexpr const char* PasswordCommandPrefix = "PasswordCommand";
inline constexpr const char* AuthPrefix = "Auth";  // "user" (USER and PASS) or "xoauth2"
inline constexpr int MailboxSlots = 12;

// Per-user store: rule grid column widths, keys col0, col1, ...; -1 keeps
// the designed width.
inline constexpr const char* SubjectGridSection = "Subject";
inline constexpr const char* HeadersGridSection = "Headers";
inline constexpr const char* SenderGridSection = "Sender";
inline constexpr const char* ExceptionsGridSection = "Exceptions";
inline constexpr int32_t ColumnWidthDefault = -1;

// Per-user store, section Main: the main window's place and size (the
// toolkit's geometry as hex text) and its list's column widths (col1 to
// col3; the subject takes the rest), kept when the program ends.
inline constexpr StringKey MainGeometry{"Main", "Geometry", ""};
inline constexpr const char* MainGridSection = "Main";

// Program store (Kelvane.ini): size limits and the blacklist switch.
inline constexpr BoolKey QSmaller{"Smaller", "QSmaller", false};
inline constexpr IntKey SmallerNum{"Smaller", "Num", 5};
inline constexpr BoolKey SmallerCheck{"Smaller", "Check", true};
inline constexpr BoolKey QLarger{"Larger", "QLarger", false};
inline constexpr IntKey LargerNum{"Larger", "Num", 20000};
inline constexpr BoolKey LargerCheck{"Larger", "Check", true};
inline constexpr BoolKey QMonitor{"Known", "QMonitor", false};

inline std::string Read(const SettingsStore& s, const StringKey& k) {
    return s.ReadString(k.section, k.key, k.def);
}
inline int32_t Read(const SettingsStore& s, const IntKey& k) {
    return s.ReadInteger(k.section, k.key, k.def);
}
inline bool Read(const SettingsStore& s, const BoolKey& k) {
    return s.ReadBool(k.section, k.key, k.def);
}
inline void Write(SettingsStore& s, const StringKey& k, const std::string& v) {
    s.WriteString(k.section, k.key, v);
}
inline void Write(SettingsStore& s, const IntKey& k, int32_t v) {
    s.WriteInteger(k.section, k.key, v);
}
inline void Write(SettingsStore& s, const BoolKey& k, bool v) {
    s.WriteBool(k.section, k.key, v);
}

// One row for every key of the per-user store, with its default: what
// UserStoreDefault answers. A new key gets its row here.
struct UserKeyRow {
    const char* section;
    const char* key;
    enum Kind { Text, Integer, Flag } kind;
    const char* text = "";
    int32_t integer = 0;
    constexpr UserKeyRow(const StringKey& k)
        : section(k.section), key(k.key), kind(Text), text(k.def) {}
    constexpr UserKeyRow(const IntKey& k)
        : section(k.section), key(k.key), kind(Integer), integer(k.def) {}
    constexpr UserKeyRow(const BoolKey& k)
        : section(k.section), key(k.key), kind(Flag), integer(k.def ? 1 : 0) {}
};
inline constexpr UserKeyRow kUserKeys[] = {
    Logfile, Mailer, AlarmFile,   Automatic, Ask,       Kill,    Minutes,      Launch,
    Exit,    Alarm,  Repeat,      RAS,       Count,     SysTray, Points,       Pipelining,
    TimeOut, Which,  KeepDeleted, KeepDays,  KeepMaxKB, Notify,  MainGeometry,
};

// The default, as stored text, of a known key of the per-user store.
std::optional<std::string> UserStoreDefault(const std::string& section, const std::string& key);

}  // namespace kelvane::keys
