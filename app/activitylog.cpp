#include "app/activitylog.h"

#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "base/text.h"

namespace kelvane {

namespace {

// Expands the conversions that stand for other time formats, so that the
// seconds field can be found: %T, %R, %r and %X.
std::string ExpandTimeFormat(std::string_view format, int depth = 0) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char c = format[++i];
        if (c == 'T') {
            out += "%H:%M:%S";
        } else if (c == 'R') {
            out += "%H:%M";
        } else if ((c == 'r' || c == 'X') && depth < 2) {
            const char* inner = nl_langinfo(c == 'r' ? T_FMT_AMPM : T_FMT);
            out += ExpandTimeFormat(inner ? inner : "", depth + 1);
        } else {
            out += '%';
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string ShortTimeFormat(std::string_view timeFormat) {
    std::string f = ExpandTimeFormat(timeFormat);
    std::size_t s = std::string::npos;
    for (std::size_t i = 0; i + 1 < f.size(); ++i) {
        if (f[i] != '%') continue;
        if (f[i + 1] == 'S') {
            s = i;
            break;
        }
        ++i;  // "%%" and every other conversion
    }
    if (s != std::string::npos) {
        // The text after the seconds up to the next field: a unit of its own
        // ("%H時%M分%S秒") goes with them; otherwise the separator before them.
        std::size_t after = f.find('%', s + 2);
        if (after == std::string::npos) after = f.size();
        const std::string_view tail(f.data() + s + 2, after - s - 2);
        const bool unit = tail.find_first_not_of(" \t") != std::string_view::npos;
        if (unit) {
            f.erase(s, after - s);
        } else {
            std::size_t before = s;
            while (before > 0 && f[before - 1] != '%' && !(before >= 2 && f[before - 2] == '%'))
                --before;
            f.erase(before, s + 2 - before);
        }
    }
    while (!f.empty() && (f.back() == ' ' || f.back() == ':' || f.back() == '.'))
        f.pop_back();
    return f.empty() ? "%H:%M" : f;
}

std::string LogTimeStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    const char* timeFormat = nl_langinfo(T_FMT);
    const std::string format = "%a %x " + ShortTimeFormat(timeFormat ? timeFormat : "");
    char buf[128];
    std::size_t n = std::strftime(buf, sizeof buf, format.c_str(), &local);
    return std::string(buf, n);
}

ActivityLog::ActivityLog(std::function<std::string()> fileName, std::function<std::time_t()> now)
    : fileName_(std::move(fileName)), now_(std::move(now)) {}

ActivityLog::~ActivityLog() {
    CloseLogFile();
}

void ActivityLog::OpenLogFile() {
    if (IsOpen()) return;
    const std::string name = fileName_();
    if (IsBlankText(name)) return;
    int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw KelvaneError(std::strerror(errno));
    fd_ = fd;
}

void ActivityLog::CloseLogFile() {
    if (!IsOpen()) return;
    ::close(fd_);
    fd_ = -1;
}

void ActivityLog::WriteLine(std::string_view text) {
    if (!IsOpen()) return;
    std::string line(text);
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += "\r\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw KelvaneError(std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

template <typename Body>
void ActivityLog::WithLog(Body body) {
    const bool wasOpen = IsOpen();
    OpenLogFile();
    try {
        body();
    } catch (...) {
        if (!wasOpen) CloseLogFile();
        throw;
    }
    if (!wasOpen) CloseLogFile();
}

void ActivityLog::LogMailCheck(std::size_t messages, std::string_view user,
                               std::string_view server) {
    WithLog([&] {
        WriteLine("MAIL CHECK " + std::to_string(messages) + " msg(s) for \"" + std::string(user) +
                  "\" on server " + std::string(server) + " at " + Stamp());
    });
}

void ActivityLog::LogCanceled(std::string_view user, std::string_view server) {
    WithLog([&] {
        WriteLine("OPERATION CANCELED FOR " + std::string(user) + " ON " + std::string(server) +
                  " AT " + Stamp());
    });
}

void ActivityLog::LogError(std::string_view error, std::string_view user, std::string_view server) {
    WithLog([&] {
        WriteLine("ERROR " + std::string(error) + " FOR " + std::string(user) + " ON " +
                  std::string(server) + " AT " + Stamp());
    });
}

void ActivityLog::LogAutomaticPostponed() {
    WithLog([&] { WriteLine("Automatic check postponed: offline at " + Stamp()); });
}

void ActivityLog::LogAutomaticMode(bool enabled) {
    WithLog([&] {
        WriteLine(std::string("Automatic mode ") + (enabled ? "enabled" : "disabled") + " at " +
                  Stamp());
    });
}

void ActivityLog::LogDeletion(std::string_view server, std::string_view user,
                              std::string_view subject, std::string_view sender,
                              std::string_view size, std::string_view date, std::string_view kept) {
    WithLog([&] {
        WriteLine("DELETE SPAM on " + Stamp());
        WriteLine("   Server:  " + std::string(server) + " Mailbox: " + std::string(user));
        WriteLine("   Subject: " + std::string(subject));
        WriteLine("   Sender:  " + std::string(sender));
        WriteLine("   Size:    " + std::string(size) + "  Date: " + std::string(date));
        if (!kept.empty()) WriteLine("   Kept:    copy " + std::string(kept) + " in Deleted");
    });
}

}  // namespace kelvane
