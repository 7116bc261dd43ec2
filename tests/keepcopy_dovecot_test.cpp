// Kept copies against a real server: however a deletion run is killed, no
// message is gone from the server without its whole copy in Deleted/cur.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/dovecot.h"
#include "support/testdir.h"

extern char** environ;

namespace kelvane {
namespace {

using test::Dovecot;
using test::ReadFile;
using test::RunCli;
using test::TempDir;
using test::WriteFile;

constexpr int kKills = 30;

Dovecot& Server() {
    static Dovecot server([] {
        std::vector<test::MailUser> users{"clean"};
        for (int i = 0; i < kKills; ++i)
            users.emplace_back("kill" + std::to_string(i));
        return users;
    }());
    return server;
}

std::string Message(int n) {
    const bool spam = n % 3 != 1;
    return "From: Sender <s" + std::to_string(n) +
           "@example.org>\nSubject: " + (spam ? "FREE offer " : "Hello ") + std::to_string(n) +
           "\nMessage-ID: <kill." + std::to_string(n) +
           "@example.org>\n\n.leading dot\n\xe9t\xe9\n" + std::string(2000 + 300 * n, 'x') +
           "\nend\n";
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct Session {
    TempDir home, prog;

    explicit Session(const std::string& user) {
        WriteFile(prog.file("subj.lst"), test::RuleFile(6, {"Contains", "free", "No", "Yes", "0"}));
        const auto r = RunCli({"--dir", prog.path(), "mailbox", "set", "1", "--server",
                               Server().Address(), "--user", user, "--password-stdin"},
                              home.path(), Server().Password(user) + "\n");
        EXPECT_EQ(r.status, 0) << r.err;
    }

    // kelvane-cli check --delete, killed with SIGKILL after delay unless it
    // ended first.
    void KilledAfter(std::chrono::microseconds delay) const {
        const std::string config = "XDG_CONFIG_HOME=" + home.path();
        std::vector<char*> env;
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0) env.push_back(*e);
        env.push_back(const_cast<char*>(config.c_str()));
        env.push_back(nullptr);
        std::string exe = KELVANE_CLI_PATH, dir = "--dir", check = "check", del = "--delete";
        std::string progDir = prog.path();
        char* argv[] = {exe.data(), dir.data(), progDir.data(), check.data(), del.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        const auto end = std::chrono::steady_clock::now() + delay;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ::kill(pid, SIGKILL);  // the child is not reaped yet, so pid is still it
        ::waitpid(pid, &status, 0);
    }

    // The copies in Deleted/cur, whole files.
    std::vector<std::string> Copies() const {
        std::vector<std::string> copies;
        const std::string cur = prog.file("Deleted/cur");
        if (!std::filesystem::exists(cur)) return copies;
        for (const auto& e : std::filesystem::directory_iterator(cur))
            copies.push_back(ReadFile(e.path().string()));
        return copies;
    }
};

// Every message gone from the server has its exact copy.
void ExpectEveryDeletedKept(const std::string& user, const std::vector<std::string>& sent,
                            const Session& run, const std::string& when) {
    const auto left = Server().MessageIds(user);
    const std::set<std::string> remaining(left.begin(), left.end());
    const auto copies = run.Copies();
    const std::set<std::string> kept(copies.begin(), copies.end());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const std::string id = "<kill." + std::to_string(i + 1) + "@example.org>";
        if (remaining.count(id) || remaining.count(id.substr(1, id.size() - 2))) continue;
        EXPECT_TRUE(kept.count(Crlf(sent[i]))) << id << " deleted without its copy, " << when;
    }
}

TEST(KeepCopyDovecot, NoKillLeavesADeletedMessageWithoutItsCopy) {
    KELVANE_REQUIRE_DOVECOT();
    std::mt19937 random(20261209);
    // A clean run first: how long one takes sets the range of kill points.
    std::vector<std::string> sent;
    for (int n = 1; n <= 9; ++n)
        sent.push_back(Message(n));
    for (const std::string& m : sent)
        Server().AddMessage("clean", m);
    Session clean("clean");
    const auto start = std::chrono::steady_clock::now();
    clean.KilledAfter(std::chrono::seconds(10));
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_EQ(Server().Messages("clean").size(), 3u);
    EXPECT_EQ(clean.Copies().size(), 6u);
    ExpectEveryDeletedKept("clean", sent, clean, "after a clean run");
    EXPECT_TRUE(std::filesystem::is_empty(clean.prog.file("Deleted/tmp")));
    EXPECT_TRUE(std::filesystem::is_empty(clean.prog.file("Deleted/new")));

    std::uniform_int_distribution<long> point(0, std::max<long>(took.count() * 3 / 2, 1000));
    int committed = 0, copiesOnly = 0;
    for (int i = 0; i < kKills; ++i) {
        const std::string user = "kill" + std::to_string(i);
        for (const std::string& m : sent)
            Server().AddMessage(user, m);
        Session run(user);
        const std::chrono::microseconds at(point(random));
        run.KilledAfter(at);
        // The server finishes a QUIT it got before the kill on its own time.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const std::size_t left = Server().Messages(user).size();
        if (left == 3) ++committed;
        if (left == 9 && !run.Copies().empty()) ++copiesOnly;
        ExpectEveryDeletedKept(user, sent, run,
                               "killed after " + std::to_string(at.count()) + " us");
    }
    std::cout << "kill points: " << kKills << ", clean run " << took.count() << " us, " << committed
              << " deletions done, " << copiesOnly
              << " killed with copies kept and nothing deleted\n";
}

}  // namespace
}  // namespace kelvane
