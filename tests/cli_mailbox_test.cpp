// Runs the real kelvane-cli against a per-user store of the test's own.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakeserver.h"
#include "support/testdir.h"

using kelvane::test::ReadFile;
using kelvane::test::RunCli;
using kelvane::test::TempDir;

namespace {
const std::string kStore = "/Brennick Corporation/Kelvane/10.ini";
}

TEST(CliMailbox, SetListClearNeverShowingThePassword) {
    TempDir home;
    auto r = RunCli(
        {"mailbox", "set", "2", "--server", "pop.example.com", "--user", "bob", "--password-stdin"},
        home.path(), "s3cr3t-pw\r\nignored\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "No keyring answered: the password of mailbox 2 is kept in the settings file\n");
    r = RunCli({"mailbox", "default", "2"}, home.path());
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli({"mailbox", "list"}, home.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2\tpop.example.com\tbob\tnone\tfile\tdefault\n");
    std::string stored = ReadFile(home.path() + kStore);
    EXPECT_EQ(stored.find("s3cr3t"), std::string::npos);
    EXPECT_NE(stored.find("Server2=pop.example.com"), std::string::npos);

    // A new server keeps the stored password when none is given.
    r = RunCli({"mailbox", "set", "2", "--server", "pop2.example.com", "--user", "bob"},
               home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(home.path() + kStore), [&] {
        std::string s = stored;
        s.replace(s.find("pop.example.com"), 15, "pop2.example.com");
        return s;
    }());

    r = RunCli({"mailbox", "clear", "2"}, home.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(RunCli({"mailbox", "list"}, home.path()).out, "");
}

TEST(CliMailbox, RefusesBadSlotsWithoutWriting) {
    TempDir home;
    struct Row {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string err;
    } rows[] = {
        {{"mailbox", "set", "3", "--server", "pop.x", "--user", "joe"},
         "",
         1,
         "Mailbox 3 - there is no password set\n"},
        {{"mailbox", "set", "3", "--server", "pop.x", "--user", "", "--password-stdin"},
         "pw\n",
         1,
         "Mailbox 3 has a server pop.x but no mailbox\n"},
        {{"mailbox", "set", "4", "--server", "pop.x", "--user", "joe", "--password-stdin"},
         std::string(300, 'p') + "\n",
         1,
         "Mailbox 4 - the password is longer than 255 characters\n"},
        {{"mailbox", "set", "4", "--server", "pop.x", "--user", "joe\r\nDELE 1",
          "--password-stdin"},
         "pw\n",
         2,
         "Mailbox 4 - the user name must not contain a line break or a NUL character\n"},
        {{"mailbox", "set", "4", "--server", "pop.x\nQUIT", "--user", "joe", "--password-stdin"},
         "pw\n",
         2,
         "Mailbox 4 - the server must not contain a line break or a NUL character\n"},
        {{"mailbox", "set", "13", "--server", "a", "--user", "b"}, "", 2, ""},
        {{"mailbox", "frobnicate"}, "", 2, ""},
        {{}, "", 2, ""},
    };
    for (const Row& row : rows) {
        auto r = RunCli(row.args, home.path(), row.input);
        EXPECT_EQ(r.status, row.status) << r.err;
        if (!row.err.empty()) {
            EXPECT_EQ(r.err, row.err);
        }
    }
    EXPECT_TRUE(ReadFile(home.path() + kStore).empty());
}

// A probe that fails says what happened, even when the server said nothing.
TEST(CliMailbox, ProbeFailuresNameWhatWentWrong) {
    using kelvane::test::FakeServer;
    const struct {
        const char* name;
        const char* greeting;
        const char* stlsReply;  // null: the server closes after the greeting
        std::string err;        // the server's address as ADDR
    } rows[] = {
        {"empty greeting", "\r\n", nullptr, "The server sent an empty reply (bob on ADDR)\n"},
        {"empty STLS reply", "+OK ready\r\n", "\r\n",
         "The server sent an empty reply (bob on ADDR)\n"},
        {"closed inside the greeting", "+OK rea", nullptr,
         "The server closed the connection (bob on ADDR)\n"},
        {"STLS refused", "+OK ready\r\n", "-ERR no TLS\r\n", "-ERR no TLS\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir home;
        FakeServer srv;
        srv.Send(row.greeting);
        if (row.stlsReply) {
            srv.Expect("STLS").Send(row.stlsReply).AwaitClientClose();
        } else {
            srv.Close();
        }
        auto r = RunCli({"mailbox", "set", "1", "--server", srv.Address(), "--user", "bob",
                         "--password-stdin", "--security", "starttls"},
                        home.path(), "pw\n");
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunCli({"mailbox", "probe", "1"}, home.path());
        EXPECT_EQ(r.status, 1);
        std::string err = row.err;
        if (auto at = err.find("ADDR"); at != std::string::npos) err.replace(at, 4, srv.Address());
        EXPECT_EQ(r.err, err);
        EXPECT_TRUE(srv.Finish()) << srv.Report();
    }
}

TEST(CliSettings, GetGivesTheStoredValueOrTheDefault) {
    TempDir home;
    EXPECT_EQ(RunCli({"settings", "get", "General", "Minutes"}, home.path()).out, "10\n");
    EXPECT_EQ(RunCli({"settings", "get", "general", "ask"}, home.path()).out, "1\n");
    EXPECT_EQ(RunCli({"settings", "get", "General", "Pipelining"}, home.path()).out, "1\n");
    EXPECT_EQ(RunCli({"settings", "get", "General", "TimeOut"}, home.path()).out, "60\n");
    auto r = RunCli({"settings", "set", "General", "Minutes", "0x1E"}, home.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RunCli({"settings", "get", "GENERAL", "minutes"}, home.path()).out, "0x1E\n");
    EXPECT_EQ(RunCli({"settings", "get", "Other", "Thing"}, home.path()).out, "\n");
}

TEST(CliSettings, UnreadableStoreFailsWithTheStoresText) {
    TempDir home;
    std::filesystem::create_directories(home.path() + kStore);  // a folder where the file goes
    auto r = RunCli({"settings", "set", "General", "Minutes", "5"}, home.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Failed to set data for 'Minutes'\n");
}

// A name the store could not give back is refused, not stored and lost.
TEST(CliSettings, RefusesNamesThatCannotBeReadBack) {
    TempDir home;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Gen\neral", "Minutes"}, {"General", "Min\rutes"}, {"General", "a=b"},
        {"[General", "Minutes"},  {"General]", "Minutes"},  {"General", " Minutes"},
        {"", "Minutes"},          {"General", ";Minutes"},
    };
    for (const auto& [section, key] : rows) {
        SCOPED_TRACE(testing::PrintToString(section + "/" + key));
        auto r = RunCli({"settings", "set", section, key, "5"}, home.path());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("cannot be stored"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(ReadFile(home.path() + kStore).empty());
}

// Without a keyring (the tests' bus is not there) and with a password
// command: what is stored, listed and refused, and a failing command that
// ends the check before anything connects.
TEST(CliMailbox, PasswordSourcesAndTokenSignIn) {
    TempDir home;
    kelvane::test::FakeServer srv;
    auto r = RunCli({"mailbox", "set", "1", "--server", srv.Address(), "--user", "bob",
                     "--password-command", "echo leaked-pw; exit 7", "--security", "starttls"},
                    home.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = RunCli({"mailbox", "set", "2", "--server", "pop.x", "--user", "eve", "--password-stdin"},
               home.path(), "pw\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        RunCli({"mailbox", "list"}, home.path()).out,
        "1\t" + srv.Address() + "\tbob\tstarttls\tcommand\tdefault\n2\tpop.x\teve\tnone\tfile\n");
    const std::string stored = ReadFile(home.path() + kStore);

    struct Row {
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {{"mailbox", "set", "3", "--server", "pop.x", "--user", "bob", "--password-command", "t",
          "--auth", "xoauth2", "--security", "none"},
         2,
         "XOAUTH2 sign-in needs --security tls or starttls: a token never crosses a plain "
         "connection\n"},
        {{"mailbox", "set", "2", "--move-password"},
         1,
         "No keyring answered: the password of mailbox 2 is kept in the settings file\n"},
        {{"mailbox", "set", "1", "--move-password"},
         1,
         "Mailbox 1 takes its password from a command\n"},
        {{"mailbox", "set", "1", "--move-password", "--user", "x"}, 2, ""},
        {{"--dir", home.path(), "check", "--mailbox", "1"},
         1,
         "The password command of mailbox 1 failed: exit status 7\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        r = RunCli(row.args, home.path());
        EXPECT_EQ(r.status, row.status) << r.err;
        if (!row.err.empty()) {
            EXPECT_EQ(r.err, row.err);
        }
        EXPECT_EQ(r.out.find("leaked"), std::string::npos);
        EXPECT_EQ(r.err.find("leaked"), std::string::npos);
    }
    EXPECT_EQ(srv.Connections(), 0);
    EXPECT_EQ(ReadFile(home.path() + kStore), stored);
}
