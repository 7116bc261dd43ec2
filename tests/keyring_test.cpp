// The real thing: GNOME Keyring on a private session bus of its own, so
// the user's keyring is never touched. The test runs itself again inside
// dbus-run-session with a keyring unlocked from its password on stdin.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/accounts.h"
#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::ReadFile;
using test::RunCli;
using test::TempDir;

const std::string kStore = "/Brennick Corporation/Kelvane/10.ini";

struct Shell {
    int status = -1;
    std::string out;
};

Shell Sh(const std::string& command) {
    Shell r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool Installed(const char* program) {
    return Sh(std::string("command -v ") + program + " >/dev/null 2>&1").status == 0;
}

std::string Lookup(const std::string& server, const std::string& user) {
    return Sh("secret-tool lookup server '" + server + "' user '" + user + "' 2>/dev/null").out;
}

void InsideTheSession() {
    ASSERT_EQ(
        Sh("echo -n pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null").status, 0);
    setenv("KELVANE_TEST_KEEP_BUS", "1", 1);
    TempDir home;
    test::FakeServer srv;
    const std::string server = srv.Address();
    test::ScriptLogin(srv, "bob", "s3cret", "+OK 0 0").Expect("QUIT").Send("+OK\r\n");
    // Items of the same user elsewhere, and of another user here.
    Sh("printf decoy1 | secret-tool store --label=x server '" + server + "' user eve");
    Sh("printf decoy2 | secret-tool store --label=x server '" + server + "0' user bob");

    auto r =
        RunCli({"mailbox", "set", "1", "--server", server, "--user", "bob", "--password-stdin"},
               home.path(), "s3cret\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Lookup(server, "bob"), "s3cret");
    EXPECT_NE(Sh("secret-tool search server '" + server + "' user bob 2>&1")
                  .out.find("label = Kelvane: bob on " + server),
              std::string::npos);
    EXPECT_NE(ReadFile(home.path() + kStore).find("Passwd1=\n"), std::string::npos);
    EXPECT_EQ(RunCli({"mailbox", "list"}, home.path()).out,
              "1\t" + server + "\tbob\tnone\tkeyring\tdefault\n");
    r = RunCli({"--dir", home.path(), "check", "--mailbox", "1"}, home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(srv.Finish()) << srv.Report();

    // A password an earlier version scrambled into the file.
    {
        SettingsStore store = SettingsStore::OpenUser(home.path() + kStore);
        MailboxAccount old{"pop.two", "ann", "old-pw"};
        WriteMailboxSlot(store, 2, old);
    }
    r = RunCli({"mailbox", "set", "2", "--move-password"}, home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lookup("pop.two", "ann"), "old-pw");
    EXPECT_NE(ReadFile(home.path() + kStore).find("Passwd2=\n"), std::string::npos);

    r = RunCli({"mailbox", "clear", "1"}, home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lookup(server, "bob"), "");
    EXPECT_EQ(Lookup(server, "eve"), "decoy1");

    // Locked, in a run that may not prompt: the file, and no waiting.
    ASSERT_EQ(Sh("dbus-send --session --print-reply --dest=org.freedesktop.secrets "
                 "/org/freedesktop/secrets org.freedesktop.Secret.Service.Lock "
                 "array:objpath:/org/freedesktop/secrets/collection/login >/dev/null")
                  .status,
              0);
    const auto start = std::chrono::steady_clock::now();
    r = RunCli({"mailbox", "set", "3", "--server", "pop.three", "--user", "cy", "--password-stdin"},
               home.path(), "pw3\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "No keyring answered: the password of mailbox 3 is kept in the settings file\n");
    r = RunCli({"--dir", home.path(), "check", "--mailbox", "2"}, home.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No keyring answered for the password of mailbox 2: the keyring is locked\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST(Keyring, RealDaemonInAPrivateSession) {
    if (getenv("KELVANE_KEYRING_SESSION")) return InsideTheSession();
    if (!Installed("dbus-run-session") || !Installed("gnome-keyring-daemon") ||
        !Installed("secret-tool")) {
        if (getenv("CI")) FAIL() << "gnome-keyring, libsecret-tools and dbus are needed in CI";
        GTEST_SKIP() << "gnome-keyring is not installed, so skipped";
    }
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    TempDir home;
    const std::string run = home.file("run");
    mkdir(run.c_str(), 0700);
    const Shell inside =
        Sh("env KELVANE_KEYRING_SESSION=1 HOME='" + home.path() + "' XDG_DATA_HOME='" +
           home.file("data") + "' XDG_RUNTIME_DIR='" + run + "' timeout 120 dbus-run-session -- '" +
           self + "' --gtest_filter=Keyring.RealDaemonInAPrivateSession 2>&1");
    EXPECT_EQ(inside.status, 0) << inside.out;
    EXPECT_NE(inside.out.find("[  PASSED  ] 1 test"), std::string::npos) << inside.out;
}

}  // namespace
}  // namespace kelvane
