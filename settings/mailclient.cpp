#include "settings/mailclient.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/fileio.h"
#include "base/text.h"

extern char** environ;

namespace kelvane {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadSmallFile(const std::string& path) {
    // Other programs' files: anything odd or huge is not ours to read.
    FileContent f = ReadRegularFile(path, 8u << 20);
    return f.status == ReadStatus::Ok ? f.data : std::string();
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Runs argv and gives its standard output (at most 64 KiB), or empty.
std::string Output(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    if (spawned == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0 && out.size() < (64u << 10)) out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (spawned != 0) return {};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return out;
}

// The text of a JavaScript string literal starting at s[i] == '"'.
std::optional<std::string> JsString(const std::string& s, std::size_t& i) {
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    std::string out;
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (c == '\\' && i + 1 < s.size()) {
            c = s[++i];
            if (c == 'n') c = '\n';
        }
        out += c;
    }
    return std::nullopt;
}

// user_pref("name", value); lines: strings unquoted, numbers and words as written.
std::map<std::string, std::string> ParsePrefs(const std::string& text) {
    std::map<std::string, std::string> prefs;
    std::size_t pos = 0;
    const std::string marker = "user_pref(";
    while ((pos = text.find(marker, pos)) != std::string::npos) {
        std::size_t i = pos + marker.size();
        pos = i;
        while (i < text.size() && text[i] == ' ')
            ++i;
        auto name = JsString(text, i);
        if (!name) continue;
        while (i < text.size() && (text[i] == ' ' || text[i] == ','))
            ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            auto v = JsString(text, i);
            if (!v) continue;
            value = *v;
        } else {
            std::size_t end = text.find(')', i);
            if (end == std::string::npos) continue;
            value = Trim(std::string_view(text).substr(i, end - i));
        }
        prefs[*name] = value;
        pos = i;
    }
    return prefs;
}

}  // namespace

DesktopPlaces DesktopPlaces::FromEnvironment() {
    DesktopPlaces p;
    p.home = Env("HOME");
    p.dataHome = Env("XDG_DATA_HOME");
    if (p.dataHome.empty() && !p.home.empty()) p.dataHome = p.home + "/.local/share";
    std::string dirs = Env("XDG_DATA_DIRS");
    p.dataDirs = SplitColons(dirs.empty() ? "/usr/local/share:/usr/share" : dirs);
    return p;
}

KeyFile ParseKeyFile(const std::string& text) {
    KeyFile out;
    std::string group;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            out[group];
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Trim(std::string_view(line).substr(0, eq));
        // The first of a repeated key counts, as desktop readers take it.
        out[group].emplace(key, Trim(std::string_view(line).substr(eq + 1)));
    }
    return out;
}

std::optional<FoundAccount> FirstPopAccount(const std::string& prefsJs) {
    const auto prefs = ParsePrefs(prefsJs);
    const auto get = [&](const std::string& name) {
        auto it = prefs.find(name);
        return it == prefs.end() ? std::string() : it->second;
    };
    const std::string accounts = get("mail.accountmanager.accounts");
    std::size_t start = 0;
    while (start < accounts.size()) {
        std::size_t end = accounts.find(',', start);
        if (end == std::string::npos) end = accounts.size();
        const std::string account = Trim(std::string_view(accounts).substr(start, end - start));
        start = end + 1;
        const std::string server = get("mail.account." + account + ".server");
        if (server.empty() || !AsciiIEquals(get("mail.server." + server + ".type"), "pop3"))
            continue;
        const std::string prefix = "mail.server." + server + ".";
        FoundAccount found;
        found.server = get(prefix + "hostname");
        found.userName = get(prefix + "userName");
        if (found.server.empty()) continue;
        // Thunderbird's socketType: 2 STARTTLS, 3 TLS from the start.
        const std::string socket = get(prefix + "socketType");
        if (socket == "3") found.security = ConnectionSecurity::Tls;
        if (socket == "2") found.security = ConnectionSecurity::StartTls;
        const std::string port = get(prefix + "port");
        if (!port.empty() && port != "110" && port != "995") found.server += ":" + port;
        return found;
    }
    return std::nullopt;
}

std::string DefaultProfileFolder(const std::string& profilesIni, const std::string& folder) {
    const KeyFile ini = ParseKeyFile(profilesIni);
    std::string path;
    bool relative = true;
    for (const auto& [group, keys] : ini) {
        if (!AsciiIStartsWith(group, "Install")) continue;
        auto it = keys.find("Default");
        if (it != keys.end() && !it->second.empty()) {
            path = it->second;
            // Install sections name the profile as its Path line does.
            for (const auto& [g, k] : ini) {
                auto p = k.find("Path");
                auto r = k.find("IsRelative");
                if (AsciiIStartsWith(g, "Profile") && p != k.end() && p->second == path)
                    relative = r == k.end() || r->second != "0";
            }
            break;
        }
    }
    if (path.empty()) {
        int profiles = 0;
        std::string only;
        bool onlyRelative = true;
        for (const auto& [group, keys] : ini) {
            if (!AsciiIStartsWith(group, "Profile")) continue;
            auto p = keys.find("Path");
            if (p == keys.end()) continue;
            auto r = keys.find("IsRelative");
            const bool rel = r == keys.end() || r->second != "0";
            auto d = keys.find("Default");
            if (d != keys.end() && d->second == "1") {
                path = p->second;
                relative = rel;
                break;
            }
            ++profiles;
            only = p->second;
            onlyRelative = rel;
        }
        if (path.empty() && profiles == 1) {
            path = only;
            relative = onlyRelative;
        }
    }
    if (path.empty()) return {};
    return relative ? Join(folder, path) : path;
}

std::optional<FoundAccount> ThunderbirdPopAccount(const DesktopPlaces& places) {
    if (places.home.empty()) return std::nullopt;
    for (const char* place : {"/.thunderbird", "/.var/app/org.mozilla.Thunderbird/.thunderbird",
                              "/snap/thunderbird/common/.thunderbird"}) {
        const std::string folder = places.home + place;
        const std::string ini = ReadSmallFile(folder + "/profiles.ini");
        if (ini.empty()) continue;
        const std::string profile = DefaultProfileFolder(ini, folder);
        if (profile.empty()) continue;
        return FirstPopAccount(ReadSmallFile(profile + "/prefs.js"));
    }
    return std::nullopt;
}

bool FillSlotOneFromMailClient(MailboxTable& table, const DesktopPlaces& places) {
    MailboxAccount& slot = table.slot(1);
    if (!slot.server.empty()) return false;
    const auto found = ThunderbirdPopAccount(places);
    if (!found) return false;
    slot.server = found->server;
    if (!found->userName.empty()) slot.userName = found->userName;
    slot.security = found->security;
    return true;
}

std::string RemoveFieldCodes(const std::string& exec) {
    std::string out;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%' || i + 1 == exec.size()) {
            out += exec[i];
            continue;
        }
        const char code = exec[++i];
        if (code == '%') out += '%';
        // Any other code stands for a file, a URL, an icon or a name.
    }
    // The blanks left where the codes stood.
    std::string tidy;
    for (char c : Trim(out)) {
        if (c == ' ' && !tidy.empty() && tidy.back() == ' ') continue;
        tidy += c;
    }
    return tidy;
}

std::string GetMailPath(const DesktopPlaces& places) {
    if (places.xdgMime.empty()) return {};
    const std::string id =
        Trim(Output({places.xdgMime, "query", "default", "x-scheme-handler/mailto"}));
    if (id.empty() || id.find('/') != std::string::npos || id.find("..") != std::string::npos)
        return {};
    std::vector<std::string> folders;
    if (!places.dataHome.empty()) folders.push_back(places.dataHome);
    folders.insert(folders.end(), places.dataDirs.begin(), places.dataDirs.end());
    // A desktop file ID's dashes may stand for sub-folders (kde4-kmail.desktop).
    std::vector<std::string> names = {id};
    for (std::size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1))
        names.push_back(std::string(id).replace(dash, 1, "/"));
    for (const std::string& folder : folders) {
        for (const std::string& name : names) {
            const std::string text = ReadSmallFile(Join(folder, "applications/" + name));
            if (text.empty()) continue;
            const KeyFile entry = ParseKeyFile(text);
            auto group = entry.find("Desktop Entry");
            if (group == entry.end()) continue;
            auto exec = group->second.find("Exec");
            if (exec == group->second.end()) continue;
            return RemoveFieldCodes(exec->second);
        }
    }
    return {};
}

std::vector<std::string> MailProgramArguments(const std::string& command) {
    const std::string text = Trim(command);
    if (text.empty()) return {};
    if (IsFile(text)) return {text};
    std::vector<std::string> out;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < text.size()) {
                word += text[++i];
            } else {
                word += c;
            }
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) out.push_back(word);
            word.clear();
            inWord = false;
        } else {
            if (c == '\\' && i + 1 < text.size()) {
                word += text[++i];
            } else {
                word += c;
            }
            inWord = true;
        }
    }
    if (inWord) out.push_back(word);
    return out;
}

}  // namespace kelvane
