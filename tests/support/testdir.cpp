#include "support/testdir.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kelvane::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelvane-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore permissions that a test may have taken away, then remove.
    for (auto& e : std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

void WriteFile(const std::string& path, std::string_view data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

RunResult RunCli(const std::vector<std::string>& args, const std::string& configHome,
                 std::string_view input, const std::function<void(int pid)>& onStarted) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        // Never the developer's own keyring: only the keyring test's
        // private bus is kept.
        if (!getenv("KELVANE_TEST_KEEP_BUS"))
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelvane-test-bus", 1);
        std::vector<char*> argv;
        std::string exe = KELVANE_CLI_PATH;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (onStarted) onStarted(static_cast<int>(pid));
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);
    RunResult r;
    std::size_t written = 0;
    bool inOpen = true;
    if (input.empty()) {
        close(inPipe[1]);
        inOpen = false;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        std::vector<pollfd> fds;
        if (outOpen) fds.push_back({outPipe[0], POLLIN, 0});
        if (errOpen) fds.push_back({errPipe[0], POLLIN, 0});
        if (inOpen) fds.push_back({inPipe[1], POLLOUT, 0});
        if (poll(fds.data(), fds.size(), 30000) <= 0) break;
        for (auto& p : fds) {
            if (!p.revents) continue;
            if (p.fd == inPipe[1]) {
                ssize_t n = write(inPipe[1], input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if (n <= 0 || written == input.size()) {
                    close(inPipe[1]);
                    inOpen = false;
                }
                continue;
            }
            char buf[4096];
            ssize_t n = read(p.fd, buf, sizeof buf);
            std::string& dst = p.fd == outPipe[0] ? r.out : r.err;
            if (n > 0) {
                dst.append(buf, static_cast<std::size_t>(n));
            } else {
                (p.fd == outPipe[0] ? outOpen : errOpen) = false;
            }
        }
    }
    if (inOpen) close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string RuleFile(std::size_t cols, const std::vector<std::string>& cells) {
    std::string text = std::to_string(cols) + ",3\r\n";
    const std::size_t first = cols == 5 ? 0 : 1;
    for (std::size_t i = 0; i < cells.size(); ++i)
        text += std::to_string(first + i) + ",1," + cells[i] + "\r\n";
    return text;
}

}  // namespace kelvane::test
