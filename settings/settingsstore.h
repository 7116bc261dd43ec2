#pragma once

// Section/key/value access to the two settings stores.
//
// The per-user store stands in for the registry key: an INI-format file
// under $XDG_CONFIG_HOME. The program store is Kelvane.ini in the program
// folder. Every value is text; integers are decimal, booleans "0" or "1".
// A store object reads its file when opened. Every write takes the store's
// lock, reads the file afresh and changes only the keys it writes, so two
// programs writing at once keep each other's values; the next reader sees
// the change at once.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Where the program keeps its files: the program folder (rule lists,
// known.lst, Kelvane.ini, the default log) and the per-user store.
struct Locations {
    std::string programDir;
    std::string userStore;

    // The program folder (see ProgramFolderFor) and the per-user store
    // under ${XDG_CONFIG_HOME:-$HOME/.config}.
    static Locations Default();
    // The executable's folder when the user can write to it, otherwise
    // ${XDG_DATA_HOME:-$HOME/.local/share}/Kelvane, created (mode 0700).
    static std::string ProgramFolderFor(const std::string& executableFolder);
    // The per-user store path from the environment.
    static std::string DefaultUserStore();

    std::string ProgramFile(std::string_view name) const;
    // A read-only file shipped with the program (help file, default sound):
    // the program folder's copy, else the installed one; the program
    // folder's path when neither exists.
    std::string DataFile(std::string_view name) const;
    std::string IniPath() const { return ProgramFile("Kelvane.ini"); }
};

// A parsed INI text. Section and key names compare without regard to ASCII
// case; the first spelling written is kept. Values that would not survive
// the plain "key=value" form (line breaks, surrounding blanks, quotes) are
// written quoted with backslash escapes.
class IniDocument {
  public:
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    const std::string* Find(std::string_view section, std::string_view key) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool Remove(std::string_view section, std::string_view key);

    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;

  private:
    struct Entry {
        std::string key;
        std::string value;  // the whole line when raw
        bool raw = false;   // a comment or stray line, kept as it stands
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        bool added = false;  // created by a write, not read from the file
    };
    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;
    std::vector<Section> sections_;
};

class SettingsStore {
  public:
    enum class Kind {
        User,    // the registry stand-in: errors name the key
        Program  // Kelvane.ini: errors name the file; values read back at most 1023 bytes
    };

    // Opens the per-user store. A file that exists but cannot be read makes
    // every read raise "Failed to get data for '%s'" and every write raise
    // "Failed to set data for '%s'", so an unreadable store is never
    // replaced by one holding only the new value.
    static SettingsStore OpenUser(const Locations& where);
    static SettingsStore OpenUser(const std::string& path);
    // Opens Kelvane.ini. A missing or unreadable file reads as all defaults;
    // a write that fails, or that would replace an unreadable file, raises
    // "Unable to write to %s".
    static SettingsStore OpenProgram(const Locations& where);
    static SettingsStore OpenProgram(const std::string& path);

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Each write outside Batch is one change of the file. A section or key
    // name that IsStorableName refuses raises the write error.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // Runs writes as one change of the file: under the store's lock (a lock
    // file beside it) the file is read afresh, so writes sees what is
    // stored now, and everything it writes replaces the file at once. When
    // writes throws, nothing is written. Nested batches join the outer one;
    // writes must not write through another store object of the same file,
    // whose batch would wait for this one's lock for ever.
    void Batch(const std::function<void()>& writes);

    // True when the key is present (whatever its value).
    bool Has(std::string_view section, std::string_view key) const;

    const std::string& Path() const { return path_; }
    Kind StoreKind() const { return kind_; }

  private:
    SettingsStore(Kind kind, std::string path);
    void Load();
    std::string WriteError(std::string_view key) const;

    Kind kind_;
    std::string path_;
    bool unreadable_ = false;
    IniDocument doc_;
    bool batching_ = false;
    std::string firstKey_;  // the first key written in the batch, for its error
};

// Whether a section or key name reads back as written: not empty, no line
// break, "=", "[" or "]", no blank or TAB at either end, and a key that does
// not begin like a comment.
bool IsStorableName(std::string_view name, bool isKey);

// The integer decoding used by both stores: optional sign and decimal
// digits, or "0x"/"0X" and hexadecimal digits (longer than two characters);
// anything else, or a value outside 32 bits, gives no result.
bool ParseStoredInteger(std::string_view text, int32_t& out);

}  // namespace kelvane
