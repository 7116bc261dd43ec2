#include "app/activitylog.h"

#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/error.h"

namespace kelvane {

namespace {

bool IsBlankName(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\r' && c != '\n' && c != '\b') return false;
    return true;
}

}  // namespace

std::string LogTimeStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    // The locale's time format without its seconds is its short time.
    std::string timeFormat = nl_langinfo(T_FMT);
    if (auto s = timeFormat.find(":%S"); s != std::string::npos) timeFormat.erase(s, 3);
    if (timeFormat.empty()) timeFormat = "%H:%M";
    const std::string format = "%a %x " + timeFormat;
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
    if (IsBlankName(name)) return;
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

void ActivityLog::LogAutomaticMode(bool enabled) {
    WithLog([&] {
        WriteLine(std::string("Automatic mode ") + (enabled ? "enabled" : "disabled") + " at " +
                  Stamp());
    });
}

void ActivityLog::LogDeletion(std::string_view server, std::string_view user,
                              std::string_view subject, std::string_view sender,
                              std::string_view size, std::string_view date) {
    WithLog([&] {
        WriteLine("DELETE SPAM on " + Stamp());
        WriteLine("   Server:  " + std::string(server) + " Mailbox: " + std::string(user));
        WriteLine("   Subject: " + std::string(subject));
        WriteLine("   Sender:  " + std::string(sender));
        WriteLine("   Size:    " + std::string(size) + "  Date: " + std::string(date));
    });
}

}  // namespace kelvane
