#pragma once

// Test helpers: a temporary folder removed afterwards, file reads and writes,
// and running the real kelvane-cli.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const;  // path of a file inside

  private:
    std::string path_;
};

void WriteFile(const std::string& path, std::string_view data);
std::string ReadFile(const std::string& path);  // empty when missing

// A rule list file whose row 1 holds cells, the heading row left to the
// defaults. Lists of 5 columns (exceptions) start at column 0, the others at
// column 1 after the picture.
std::string RuleFile(std::size_t cols, const std::vector<std::string>& cells);

struct RunResult {
    int status = -1;  // exit status, or -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs kelvane-cli with the arguments and standard input given, with
// XDG_CONFIG_HOME set to configHome (so the per-user store is the test's)
// and a session bus that is not there (no keyring answers), unless
// KELVANE_TEST_KEEP_BUS is set.
// onStarted, when given, gets the process id as soon as the command runs.
RunResult RunCli(const std::vector<std::string>& args, const std::string& configHome,
                 std::string_view input = {}, const std::function<void(int pid)>& onStarted = {});

}  // namespace kelvane::test
