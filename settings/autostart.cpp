#include "settings/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/error.h"
#include "base/fileio.h"
#include "base/lines.h"

namespace kelvane {

namespace {

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0]) return JoinPath(home, ".config");
    if (const passwd* pw = getpwuid(getuid())) return JoinPath(pw->pw_dir, ".config");
    return ".config";
}

// The same file, whichever path names it.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string FirstOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = dirs.substr(start, colon - start);
        if (!dir.empty() && dir[0] == '/') {
            const std::string candidate = JoinPath(dir, name);
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = colon + 1;
    }
    return {};
}

// One Exec argument: quoted when it holds anything beyond plain characters,
// with the characters that stay special inside the quotes escaped; then the
// value escaping every desktop entry string gets (backslash, field codes).
std::string ExecArgument(const std::string& arg) {
    bool plain = !arg.empty();
    for (char c : arg)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              (c != '\0' && std::strchr("/._-+,", c))))
            plain = false;
    std::string quoted;
    if (plain) {
        quoted = arg;
    } else {
        quoted = "\"";
        for (char c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    std::string out;
    for (char c : quoted) {
        if (c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

}  // namespace

std::string AutostartPath() {
    return JoinPath(ConfigHome(), std::string("autostart/") + kApplicationId + ".desktop");
}

std::string AutostartProgram(const std::string& executableFolder) {
    const std::string own = JoinPath(executableFolder, "kelvane");
    if (::access(own.c_str(), X_OK) != 0) return "kelvane";
    const std::string found = FirstOnPath("kelvane");
    return !found.empty() && SameFile(found, own) ? "kelvane" : own;
}

std::string AutostartEntry(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kelvane\n"
           "Comment=Delete junk mail on your POP3 server before your mail program downloads it\n"
           "Exec=" +
           ExecArgument(program) +
           "\n"
           "Icon=org.kelvane.Kelvane\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEnabled() {
    const FileContent file = ReadWholeFile(AutostartPath());
    if (file.status != ReadStatus::Ok) return false;
    LineSplitter lines(file.data);
    for (std::string_view line; lines.Next(line);) {
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
    }
    return true;
}

void SetAutostart(bool on, const std::string& program) {
    const std::string path = AutostartPath();
    if (!on) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw StoreError("Unable to remove " + path + ": " + std::strerror(errno));
        return;
    }
    MakeFolders(DirName(path));
    if (auto error = WriteFileAtomic(path, AutostartEntry(program)))
        throw StoreError("Unable to write to " + path + ": " + *error);
}

}  // namespace kelvane
