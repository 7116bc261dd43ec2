#include "settings/passwordcommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace kelvane {

namespace {

// A token of a few kilobytes is ordinary; a first line beyond this is not a
// secret but a runaway command.
constexpr std::size_t kMaxSecret = 65536;

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

CommandSecret RunPasswordCommand(const std::string& command, int timeOutSeconds) {
    CommandSecret result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.detail = std::string("cannot start it: ") + std::strerror(errno);
        return result;
    }
    // posix_spawn, not fork: the desktop program has threads.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string sh = "/bin/sh", dashC = "-c", text = command;
    char* argv[] = {sh.data(), dashC.data(), text.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        result.detail = std::string("cannot start it: ") + std::strerror(spawned);
        return result;
    }

    const Clock::time_point end = Clock::now() + std::chrono::seconds(timeOutSeconds);
    std::string line;
    bool lineDone = false, tooLong = false, timedOut = false;
    char buf[8192];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int ready = poll(&p, 1, MsLeft(end));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (lineDone) continue;
        const char* nl = static_cast<const char*>(std::memchr(buf, '\n', static_cast<size_t>(n)));
        line.append(buf, nl ? static_cast<std::size_t>(nl - buf) : static_cast<std::size_t>(n));
        if (line.size() > kMaxSecret) {
            tooLong = lineDone = true;
            line.clear();
        }
        if (nl) lineDone = true;
    }
    close(out[0]);

    int status = 0;
    for (;;) {
        const pid_t done = timedOut ? 0 : waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno == EINTR) continue;
        if (timedOut || MsLeft(end) == 0) {
            // The command and everything it started.
            kill(-pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    if (timedOut) {
        result.detail = "no answer within " + std::to_string(timeOutSeconds) + " seconds";
    } else if (WIFSIGNALED(status)) {
        result.detail = "ended by signal " + std::to_string(WTERMSIG(status));
    } else if (WEXITSTATUS(status) != 0) {
        result.detail = "exit status " + std::to_string(WEXITSTATUS(status));
    } else if (tooLong) {
        result.detail = "its first line is longer than " + std::to_string(kMaxSecret) + " bytes";
    } else {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            result.detail = "it printed nothing";
        } else {
            result.ok = true;
            result.secret = std::move(line);
        }
    }
    return result;
}

}  // namespace kelvane
