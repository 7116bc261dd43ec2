#pragma once

// The activity log: an append-only text file of time-stamped lines, one per
// check, deletion, cancel, error and automatic-mode switch.

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace kelvane {

// "ddd ddddd t": abbreviated day name, short date and short time in the
// user's locale (LC_TIME).
std::string LogTimeStamp(std::time_t when);
// A strftime time format without its seconds field: the locale's short time.
std::string ShortTimeFormat(std::string_view timeFormat);

class ActivityLog {
  public:
    // fileName gives the log file's name afresh at every opening; a blank
    // name means no log. now gives the time of each stamp.
    explicit ActivityLog(
        std::function<std::string()> fileName,
        std::function<std::time_t()> now = [] { return std::time(nullptr); });
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Opens the log for appending (creating it) unless it is open already or
    // its name is blank. A file that cannot be opened raises KelvaneError
    // with the system's text, and the log stays closed.
    void OpenLogFile();
    void CloseLogFile();
    bool IsOpen() const { return fd_ >= 0; }

    // Writes one line while the log is open; dropped otherwise. A CR or LF
    // inside the text is written as a blank so that a value can never forge
    // a line of its own.
    void WriteLine(std::string_view text);

    // The writers: each opens the log, writes and closes it again, unless the
    // log was open already (a deletion keeps it open), in which case it
    // stays open.
    void LogMailCheck(std::size_t messages, std::string_view user, std::string_view server);
    void LogCanceled(std::string_view user, std::string_view server);
    void LogError(std::string_view error, std::string_view user, std::string_view server);
    void LogAutomaticMode(bool enabled);
    // An unattended run held back while the network is down.
    void LogAutomaticPostponed();
    // kept: the ID of the copy kept of the message, written as a sixth line
    // when there is one.
    void LogDeletion(std::string_view server, std::string_view user, std::string_view subject,
                     std::string_view sender, std::string_view size, std::string_view date,
                     std::string_view kept = {});

  private:
    template <typename Body>
    void WithLog(Body body);
    std::string Stamp() const { return LogTimeStamp(now_()); }

    std::function<std::string()> fileName_;
    std::function<std::time_t()> now_;
    int fd_ = -1;
};

}  // namespace kelvane
