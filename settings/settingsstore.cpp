#include "settings/settingsstore.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>

#include "base/error.h"
#include "base/fileio.h"
#include "base/lines.h"
#include "base/text.h"

namespace kelvane {

namespace {

// Values longer than this are returned cut from Kelvane.ini, as its readers
// have always received them through a 1024-byte buffer.
constexpr std::size_t kProgramValueLimit = 1023;

bool NeedsQuoting(std::string_view v) {
    if (v.empty()) return false;
    if (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t') return true;
    if (v.front() == '"') return true;
    for (char c : v) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

std::string Quote(std::string_view v) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "\"";
    for (char c : v) {
        auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    out += "\\x";
                    out += hex[u >> 4];
                    out += hex[u & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

// The inverse of Quote; an unknown escape keeps its backslash, so a
// hand-written quoted value with backslashes reads as written.
std::string Unquote(std::string_view inner) {
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        char c = inner[i];
        if (c != '\\' || i + 1 == inner.size()) {
            out += c;
            continue;
        }
        char n = inner[i + 1];
        switch (n) {
            case '\\':
                out += '\\';
                ++i;
                break;
            case '"':
                out += '"';
                ++i;
                break;
            case 'n':
                out += '\n';
                ++i;
                break;
            case 'r':
                out += '\r';
                ++i;
                break;
            case 't':
                out += '\t';
                ++i;
                break;
            case 'x':
                if (i + 3 < inner.size() && HexValue(inner[i + 2]) >= 0 &&
                    HexValue(inner[i + 3]) >= 0) {
                    out += static_cast<char>(HexValue(inner[i + 2]) * 16 + HexValue(inner[i + 3]));
                    i += 3;
                } else {
                    out += c;
                }
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string_view TrimBlanks(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

}  // namespace

// ---------------------------------------------------------------- Locations

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0]) return home;
    if (const passwd* pw = getpwuid(getuid())) return pw->pw_dir;
    return {};
}

}  // namespace

std::string Locations::DefaultUserStore() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        base = JoinPath(HomeFolder(), ".config");
    }
    return JoinPath(base, "Brennick Corporation/Kelvane/10.ini");
}

std::string Locations::ProgramFolderFor(const std::string& executableFolder) {
    // A build tree or a portable copy keeps its files beside the program.
    if (::access(executableFolder.c_str(), W_OK) == 0) return executableFolder;
    // Installed in a system folder: the user's own data folder instead.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const std::string base =
        xdg && xdg[0] == '/' ? std::string(xdg) : JoinPath(HomeFolder(), ".local/share");
    const std::string folder = JoinPath(base, "Kelvane");
    MakeFolders(folder);
    return folder;
}

Locations Locations::Default() {
    return Locations{ProgramFolderFor(ExecutableFolder()), DefaultUserStore()};
}

std::string Locations::DataFile(std::string_view name) const {
    const std::string own = ProgramFile(name);
    if (FileExists(own)) return own;
    const std::string shipped = JoinPath(KELVANE_DATA_DIR, name);
    return FileExists(shipped) ? shipped : own;
}

std::string Locations::ProgramFile(std::string_view name) const {
    return JoinPath(programDir, name);
}

// ---------------------------------------------------------------- IniDocument

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    doc.sections_.push_back(Section{});  // lines before the first section
    LineSplitter lines(text);
    for (std::string_view line; lines.Next(line);) {
        std::string_view t = TrimBlanks(line);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            doc.sections_.push_back(
                Section{std::string(TrimBlanks(t.substr(1, t.size() - 2))), {}});
            continue;
        }
        auto eq = t.find('=');
        if (t.empty() || t.front() == ';' || t.front() == '#' || eq == std::string_view::npos ||
            TrimBlanks(t.substr(0, eq)).empty()) {
            // Comments and stray lines are kept as they stand.
            doc.sections_.back().entries.push_back(Entry{"", std::string(line), true});
            continue;
        }
        std::string_view value = TrimBlanks(t.substr(eq + 1));
        std::string v;
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            v = Unquote(value.substr(1, value.size() - 2));
        else
            v = std::string(value);
        doc.sections_.back().entries.push_back(
            Entry{std::string(TrimBlanks(t.substr(0, eq))), std::move(v), false});
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const Section& s : sections_) {
        if (&s != &sections_.front() || !s.name.empty()) {
            // A section added by a write is set off from the one before it.
            if (s.added && !out.empty() && !out.ends_with("\n\n")) out += "\n";
            out += "[" + s.name + "]\n";
        }
        for (const Entry& e : s.entries) {
            if (e.raw) {
                out += e.value + "\n";
                continue;
            }
            out += e.key + "=";
            out += NeedsQuoting(e.value) ? Quote(e.value) : e.value;
            out += "\n";
        }
    }
    return out;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
    for (std::size_t i = 1; i < sections_.size(); ++i)
        if (AsciiIEquals(sections_[i].name, name)) return &sections_[i];
    return nullptr;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
    return const_cast<IniDocument*>(this)->FindSection(name);
}

const std::string* IniDocument::Find(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const Entry& e : s->entries)
        if (!e.raw && AsciiIEquals(e.key, key)) return &e.value;
    return nullptr;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (sections_.empty()) sections_.push_back(Section{});
    Section* s = FindSection(section);
    if (!s) {
        sections_.push_back(Section{std::string(section), {}, true});
        s = &sections_.back();
    }
    for (Entry& e : s->entries) {
        if (!e.raw && AsciiIEquals(e.key, key)) {
            e.value = std::string(value);
            return;
        }
    }
    // Keep new keys before trailing blank lines of the section.
    auto at = s->entries.end();
    while (at != s->entries.begin() && std::prev(at)->raw &&
           TrimBlanks(std::prev(at)->value).empty())
        --at;
    s->entries.insert(at, Entry{std::string(key), std::string(value), false});
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
    Section* s = FindSection(section);
    if (!s) return false;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (!it->raw && AsciiIEquals(it->key, key)) {
            s->entries.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::string> IniDocument::Sections() const {
    std::vector<std::string> out;
    for (std::size_t i = 1; i < sections_.size(); ++i)
        out.push_back(sections_[i].name);
    return out;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
    std::vector<std::string> out;
    if (const Section* s = FindSection(section))
        for (const Entry& e : s->entries)
            if (!e.raw) out.push_back(e.key);
    return out;
}

// ---------------------------------------------------------------- decoding

bool IsStorableName(std::string_view name, bool isKey) {
    if (name.empty() || TrimBlanks(name).size() != name.size()) return false;
    if (name.find_first_of("\r\n=[]") != std::string_view::npos) return false;
    return !isKey || (name.front() != ';' && name.front() != '#');
}

bool ParseStoredInteger(std::string_view text, int32_t& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t v = 0;
        std::string_view digits = text.substr(2);
        if (digits.size() > 8) {
            // Leading zeros may pad a value that still fits in 32 bits.
            std::size_t z = digits.find_first_not_of('0');
            if (z == std::string_view::npos) z = digits.size() - 1;
            digits = digits.substr(z);
            if (digits.size() > 8) return false;
        }
        for (char c : digits) {
            int d = HexValue(c);
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        out = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    return ParseDecimalInt32(text, out);
}

// ---------------------------------------------------------------- SettingsStore

SettingsStore::SettingsStore(Kind kind, std::string path) : kind_(kind), path_(std::move(path)) {
    Load();
}

SettingsStore SettingsStore::OpenUser(const Locations& where) {
    return SettingsStore(Kind::User, where.userStore);
}
SettingsStore SettingsStore::OpenUser(const std::string& path) {
    return SettingsStore(Kind::User, path);
}
SettingsStore SettingsStore::OpenProgram(const Locations& where) {
    return SettingsStore(Kind::Program, where.IniPath());
}
SettingsStore SettingsStore::OpenProgram(const std::string& path) {
    return SettingsStore(Kind::Program, path);
}

void SettingsStore::Load() {
    FileContent f = ReadWholeFile(path_);
    unreadable_ = f.status == ReadStatus::Unreadable;
    doc_ = f.status == ReadStatus::Ok ? IniDocument::Parse(f.data) : IniDocument();
}

bool SettingsStore::Has(std::string_view section, std::string_view key) const {
    return !unreadable_ && doc_.Find(section, key) != nullptr;
}

std::string SettingsStore::ReadString(std::string_view section, std::string_view key,
                                      std::string_view def) const {
    if (unreadable_) {
        // Defaults would hide the user's real settings; say so instead.
        if (kind_ == Kind::User)
            throw StoreError("Failed to get data for '" + std::string(key) + "'");
        return std::string(def);
    }
    const std::string* v = doc_.Find(section, key);
    std::string out = v ? *v : std::string(def);
    if (kind_ == Kind::Program && out.size() > kProgramValueLimit) out.resize(kProgramValueLimit);
    return out;
}

int32_t SettingsStore::ReadInteger(std::string_view section, std::string_view key,
                                   int32_t def) const {
    if (!Has(section, key)) {
        ReadString(section, key, "");  // raises for an unreadable per-user store
        return def;
    }
    int32_t v = def;
    if (!ParseStoredInteger(ReadString(section, key, ""), v)) return def;
    return v;
}

bool SettingsStore::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::string SettingsStore::WriteError(std::string_view key) const {
    if (kind_ == Kind::User) return "Failed to set data for '" + std::string(key) + "'";
    return "Unable to write to " + path_;
}

void SettingsStore::WriteString(std::string_view section, std::string_view key,
                                std::string_view value) {
    if (!batching_) {
        Batch([&] { WriteString(section, key, value); });
        return;
    }
    // Never replace a store we could not read: that would lose every other value.
    if (unreadable_) throw StoreError(WriteError(key));
    // The file could not give such a name back: it would be lost.
    if (!IsStorableName(section, false) || !IsStorableName(key, true))
        throw StoreError(WriteError(key));
    doc_.Set(section, key, value);
    if (firstKey_.empty()) firstKey_ = std::string(key);
}

void SettingsStore::Batch(const std::function<void()>& writes) {
    if (batching_) {
        writes();
        return;
    }
    if (kind_ == Kind::User) MakeFolders(DirName(path_));  // for the lock file
    // Without a lock file (a folder we cannot write) the write below fails
    // on its own, unless nothing changes.
    const FileLock lock(path_ + ".lock");
    Load();
    batching_ = true;
    firstKey_.clear();
    try {
        writes();
    } catch (...) {
        batching_ = false;
        Load();
        throw;
    }
    batching_ = false;
    if (firstKey_.empty()) return;
    unsigned mode = 0644;
    ModeRule rule = ModeRule::KeepExisting;
    if (kind_ == Kind::User) {
        mode = 0600;  // it holds the scrambled passwords, whatever mode it was given
        rule = ModeRule::Always;
    }
    if ((kind_ == Kind::User && !MakeFolders(DirName(path_))) ||
        WriteFileAtomic(path_, doc_.Serialize(), mode, rule)) {
        Load();
        throw StoreError(WriteError(firstKey_));
    }
}

void SettingsStore::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void SettingsStore::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

}  // namespace kelvane
