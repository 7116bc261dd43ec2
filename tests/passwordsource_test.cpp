// Where a check gets a mailbox's password: the keyring (a fake here), a
// password command, or the scrambled file of earlier versions.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "base/error.h"
#include "settings/accounts.h"
#include "settings/keys.h"
#include "settings/passwordcommand.h"
#include "support/fakesecrets.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::FakeSecrets;
using test::TempDir;

TEST(PasswordCommand, Outcomes) {
    TempDir dir;
    const std::string pidFile = dir.file("pid");
    struct Case {
        const char* name;
        std::string command;
        bool ok;
        std::string result;  // the secret, or the detail
    } cases[] = {
        {"first line only", "printf 'tok-1\\r\\nsecond\\n'", true, "tok-1"},
        {"no final line break", "printf 'pw'", true, "pw"},
        {"a megabyte after the line", "echo tok; head -c 1048576 /dev/zero", true, "tok"},
        {"exit status", "echo leaked-secret; exit 3", false, "exit status 3"},
        {"empty output", "true", false, "it printed nothing"},
        {"empty first line", "echo; echo late", false, "it printed nothing"},
        {"no standard input", "cat", false, "it printed nothing"},
        {"a megabyte line", "head -c 1048576 /dev/zero | tr '\\0' x", false,
         "its first line is longer than 65536 bytes"},
        {"never ends", "echo early; sleep 30", false, "no answer within 1 seconds"},
        {"prints without end", "yes leaked-secret", false, "no answer within 1 seconds"},
        {"what it started ends too", "sleep 30 & echo $! > " + pidFile + "; wait", false,
         "no answer within 1 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        const CommandSecret got = RunPasswordCommand(c.command, 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(got.ok, c.ok);
        EXPECT_EQ(c.ok ? got.secret : got.detail, c.result);
        if (!c.ok) {
            EXPECT_TRUE(got.secret.empty());
        }
        EXPECT_EQ(got.detail.find("leaked"), std::string::npos);
    }
    int started = 0;
    std::ifstream(pidFile) >> started;
    ASSERT_GT(started, 0);
    // Gone, or a zombie waiting for whoever adopted it: not running. A
    // killed process still runs until it is next scheduled, which on a busy
    // machine may take a moment.
    std::string state;
    for (int tries = 0; tries < 200; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(started) + "/stat");
        state.clear();
        if (stat) {
            std::string skip;
            stat >> skip >> skip >> state;
        }
        if (state.empty() || state == "Z") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(state.empty() || state == "Z") << state;
}

class SourceTest : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string path = dir.file("user.ini");
    FakeSecrets secrets;
    SettingsStore store() { return SettingsStore::OpenUser(path); }

    MailboxAccount Account(const std::string& server = "pop.example.com:995") {
        MailboxAccount a;
        a.server = server;
        a.userName = "bob";
        a.security = ConnectionSecurity::Tls;
        return a;
    }
    std::string Stored(int n, const char* prefix) {
        return store().ReadString(keys::ServerSection, prefix + std::to_string(n), "(none)");
    }
    // The password a check of slot n would send, or the error it fails with.
    std::string CheckSees(int n) {
        PopSettings p = GetRemotePOPSettings(store(), n);
        try {
            FetchSlotPassword(store(), n, p, secrets);
        } catch (const KelvaneError& e) {
            return std::string("error: ") + e.what();
        }
        return p.password;
    }
};

TEST_F(SourceTest, TypedPasswordGoesToTheKeyringOrStaysInTheFile) {
    MailboxAccount a = Account();
    a.password = "s3cret";
    SettingsStore s = store();
    ASSERT_TRUE(StoreSlotPassword(secrets, a));
    WriteMailboxSlot(s, 1, a);
    EXPECT_EQ(Stored(1, keys::PasswdPrefix), "");
    EXPECT_EQ(Stored(1, keys::PasswordStorePrefix), "keyring");
    EXPECT_EQ(CheckSees(1), "s3cret");

    secrets.answers = false;
    a = Account("pop.other");
    a.password = "other-pw";
    std::string why;
    EXPECT_FALSE(StoreSlotPassword(secrets, a, &why));
    EXPECT_EQ(why, "no session bus");
    WriteMailboxSlot(s, 2, a);
    EXPECT_NE(Stored(2, keys::PasswdPrefix), "");
    EXPECT_EQ(Stored(2, keys::PasswordStorePrefix),
              "(none)");  // a store as earlier versions left it
    EXPECT_EQ(CheckSees(2), "other-pw");
    EXPECT_EQ(NoKeyringText(2),
              "No keyring answered: the password of mailbox 2 is kept in the settings file");
}

TEST_F(SourceTest, KeyringItemsOfOtherServersOrUsersAreNeverUsed) {
    secrets.items[{"pop.example.com", "bob"}] = "no-port";
    secrets.items[{"pop.example.com:995", "Bob"}] = "other-case";
    SettingsStore s = store();
    MailboxAccount a = Account();
    a.passwordSource = PasswordSource::Keyring;
    WriteMailboxSlot(s, 3, a);
    EXPECT_EQ(CheckSees(3),
              "error: The keyring holds no password for mailbox 3 (bob on pop.example.com:995)");
    secrets.items[{"pop.example.com:995", "bob"}] = "right";
    EXPECT_EQ(CheckSees(3), "right");
    secrets.answers = false;
    EXPECT_EQ(CheckSees(3),
              "error: No keyring answered for the password of mailbox 3: no session bus");
}

TEST_F(SourceTest, OldFilePasswordKeepsWorkingAndMovesOnlyWhenAsked) {
    SettingsStore s = store();
    MailboxAccount a = Account();
    a.password = "old-pw";
    WriteMailboxSlot(s, 4, a);  // scrambled, as an earlier version left it
    const std::string before = test::ReadFile(path);
    EXPECT_EQ(CheckSees(4), "old-pw");
    EXPECT_EQ(test::ReadFile(path), before);  // a check never moves it
    EXPECT_EQ(secrets.calls, 0);

    secrets.answers = false;
    EXPECT_EQ(MovePasswordToKeyring(s, secrets, 4), MoveOutcome::NoKeyring);
    EXPECT_EQ(test::ReadFile(path), before);
    secrets.answers = true;
    EXPECT_EQ(MovePasswordToKeyring(s, secrets, 4), MoveOutcome::Moved);
    EXPECT_EQ(Stored(4, keys::PasswdPrefix), "");
    EXPECT_EQ((secrets.items[{"pop.example.com:995", "bob"}]), "old-pw");
    EXPECT_EQ(CheckSees(4), "old-pw");
    EXPECT_EQ(MovePasswordToKeyring(s, secrets, 4), MoveOutcome::AlreadyThere);

    MailboxTable t;
    readServerSettings(s, t);
    EXPECT_TRUE(ForgetKeyringPassword(secrets, t.slot(4)));
    EXPECT_TRUE(secrets.items.empty());
}

TEST_F(SourceTest, CommandAndTokenSlots) {
    SettingsStore s = store();
    MailboxAccount a = Account();
    a.passwordSource = PasswordSource::Command;
    a.passwordCommand = "echo token-1; exit 4";
    a.signIn = SignIn::XOAuth2;
    ASSERT_FALSE(CheckMailboxSlot(5, a));  // no password in the table is needed
    WriteMailboxSlot(s, 5, a);
    EXPECT_EQ(Stored(5, keys::PasswordCommandPrefix), "echo token-1; exit 4");
    EXPECT_EQ(Stored(5, keys::AuthPrefix), "xoauth2");
    EXPECT_EQ(GetRemotePOPSettings(s, 5).signIn, SignIn::XOAuth2);
    EXPECT_EQ(CheckSees(5), "error: The password command of mailbox 5 failed: exit status 4");

    a.passwordCommand = "echo token-1";
    WriteMailboxSlot(s, 5, a);
    EXPECT_EQ(CheckSees(5), "token-1");

    a.security = ConnectionSecurity::None;
    WriteMailboxSlot(s, 5, a);
    EXPECT_EQ(CheckSees(5).rfind("error: Mailbox 5 signs in with an OAuth 2.0 token", 0), 0u);

    a.passwordCommand = " ";
    EXPECT_EQ(CheckMailboxSlot(5, a)->message, "Mailbox 5 - there is no password command set");
}

}  // namespace
}  // namespace kelvane
