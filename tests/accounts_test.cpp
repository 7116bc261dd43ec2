#include "settings/accounts.h"
#include "rules/addtolist.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "settings/encrypt.h"
#include "settings/keys.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;

TEST(Scramble, RoundTripsEveryLengthAndByte) {
    for (int slot = 1; slot <= 12; ++slot) {
        for (std::size_t len : {0u, 1u, 7u, 64u, 255u}) {
            std::string p;
            for (std::size_t i = 0; i < len; ++i)
                p += static_cast<char>((i * 37 + slot) & 0xFF);
            std::string s = ScrambleText(p, slot);
            ASSERT_EQ(s.size(), p.size());
            EXPECT_EQ(UnscrambleText(s, slot), p) << "slot " << slot << " len " << len;
            if (len >= 7) {
                EXPECT_NE(s, p);
                EXPECT_NE(UnscrambleText(s, slot % 12 + 1), p);
            }
        }
    }
    EXPECT_THROW(ScrambleText(std::string(256, 'x'), 1), KelvaneError);
}

TEST(Scramble, StoredFormKeepsZeroAndUnprintableBytes) {
    const std::string scrambled("\0\x01\xff z\n", 6);
    std::string stored = EncodeStoredPassword(scrambled);
    for (char c : stored)
        EXPECT_TRUE(c > 32 && c < 127) << int(c);
    EXPECT_EQ(DecodeStoredPassword(stored), scrambled);
    EXPECT_EQ(EncodeStoredPassword(""), "");
    EXPECT_EQ(DecodeStoredPassword(""), "");
    EXPECT_EQ(DecodeStoredPassword("hex:4"), "hex:4");    // not our spelling
    EXPECT_EQ(DecodeStoredPassword("hex:ZZ"), "hex:ZZ");  // taken as it stands
}

class AccountsTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("10.ini");
    SettingsStore store() { return SettingsStore::OpenUser(path); }
};

TEST_F(AccountsTest, SaveAndReadBackWholeTable) {
    MailboxTable t;
    t.selected = 3;
    t.slot(1) = {"pop.example.com", "bob", std::string("p\0ss", 4)};
    t.slot(3) = {"mail.example.org", "alice", "secret"};
    t.slot(7).password = "lonely";  // only a password: valid
    SettingsStore s = store();
    SaveServerResult r = saveServerSettings(s, t);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(t.defaultMailbox, 3);
    EXPECT_EQ(ReadFile(path).find("secret"), std::string::npos);

    MailboxTable back;
    readServerSettings(store(), back);
    EXPECT_EQ(back.selected, 3);
    EXPECT_EQ(back.defaultMailbox, 3);
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(back.slot(n).server, t.slot(n).server) << n;
        EXPECT_EQ(back.slot(n).userName, t.slot(n).userName) << n;
        EXPECT_EQ(back.slot(n).password, t.slot(n).password) << n;
    }
    PopSettings p = GetRemotePOPSettings(store(), 3);
    EXPECT_EQ(p.host, "mail.example.org");
    EXPECT_EQ(p.userName, "alice");
    EXPECT_EQ(p.password, "secret");
    EXPECT_TRUE(p.pipelining);
    SettingsStore off = store();
    off.WriteString("General", "Pipelining", "0");
    EXPECT_FALSE(GetRemotePOPSettings(off, 3).pipelining);
}

TEST_F(AccountsTest, ValidationStopsAtTheFirstBadSlot) {
    {
        MailboxTable old;
        old.slot(4) = {"old.server", "olduser", "oldpw"};
        SettingsStore s = store();
        ASSERT_TRUE(saveServerSettings(s, old).ok);
    }
    struct Row {
        const char* name;
        MailboxAccount bad;
        const char* message;
        AccountField focus;
    } rows[] = {
        {"no password",
         {"pop.x", "joe", ""},
         "Mailbox 3 - there is no password set",
         AccountField::Password},
        {"server only",
         {"pop.x", "", "pw"},
         "Mailbox 3 has a server pop.x but no mailbox",
         AccountField::UserName},
        {"user only", {"", "joe", "pw"}, "Mailbox 3 joe has a blank server", AccountField::Server},
        {"overlong password",
         {"pop.x", "joe", std::string(256, 'p')},
         "Mailbox 3 - the password is longer than 255 characters",
         AccountField::Password},
        {"line break in the user name",
         {"pop.x", "joe\r\nDELE 1", "pw"},
         "Mailbox 3 - the user name must not contain a line break or a NUL character",
         AccountField::UserName},
        {"NUL in the server",
         {std::string("pop.x\0evil", 10), "joe", "pw"},
         "Mailbox 3 - the server must not contain a line break or a NUL character",
         AccountField::Server},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MailboxTable t;
        t.slot(1) = {"a", "b", "c"};
        t.slot(3) = row.bad;
        t.slot(4) = {"new.server", "", ""};  // would fail too, but is never reached
        SettingsStore s = store();
        SaveServerResult r = saveServerSettings(s, t);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.slot, 3);
        EXPECT_EQ(r.message, row.message);
        EXPECT_EQ(r.focus, row.focus);
        MailboxTable back;
        readServerSettings(store(), back);
        EXPECT_EQ(back.slot(4).server, "old.server");
        EXPECT_EQ(back.slot(4).password, "oldpw");
        EXPECT_EQ(back.slot(1).server, "a");
    }
}

TEST_F(AccountsTest, WhichOutsideTheSlotsKeepsTheRadioButton) {
    SettingsStore s = store();
    keys::Write(s, keys::Which, 15);
    MailboxTable t;
    t.selected = 2;
    readServerSettings(store(), t);
    EXPECT_EQ(t.selected, 2);
    EXPECT_EQ(t.defaultMailbox, 15);
    EXPECT_EQ(GetRemotePOPSettings(store(), 15).host, "");
}

// What the client gets from the stored security keys and TimeOut. Nothing
// the user set to TLS or STLS may come out as a plain connection, and a
// store without these keys keeps its old plain behaviour.
TEST_F(AccountsTest, SecurityAndTimeOutAsTheClientGetsThem) {
    struct Row {
        const char* security;  // stored Security2, nullptr: missing
        const char* timeOut;   // stored TimeOut, nullptr: missing
        ConnectionSecurity want;
        int wantTimeOut;
    } rows[] = {
        {nullptr, nullptr, ConnectionSecurity::None, 60},
        {"0", "5", ConnectionSecurity::None, 5},
        {"1", "0", ConnectionSecurity::Tls, 60},
        {"2", "-3", ConnectionSecurity::StartTls, 60},
        {"7", "x", ConnectionSecurity::Tls, 60},
        {"tls", "300", ConnectionSecurity::Tls, 300},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(path);
        {
            SettingsStore s = store();
            if (row.security) s.WriteString("Server", "Security2", row.security);
            if (row.timeOut) s.WriteString("General", "TimeOut", row.timeOut);
            s.WriteString("Server", "Fingerprint2", " AB:cd ");
        }
        const PopSettings p = GetRemotePOPSettings(store(), 2);
        EXPECT_EQ(p.security, row.want) << (row.security ? row.security : "missing");
        EXPECT_EQ(p.timeOut, row.wantTimeOut) << (row.timeOut ? row.timeOut : "missing");
        EXPECT_EQ(p.fingerprint, "AB:cd");
    }
}

TEST(Accounts, ServerToIndexIgnoresCaseAndTakesTheFirst) {
    MailboxTable t;
    t.slot(2) = {"pop.example.com", "Bob", "x"};
    t.slot(5) = {"pop.example.com", "bob", "y"};
    EXPECT_EQ(serverToIndex(t, "POP.EXAMPLE.COM", "bob"), 2);
    EXPECT_EQ(serverToIndex(t, "pop.example.com", "carol"), 0);
    EXPECT_EQ(serverToIndex(t, "", ""), 1);  // an empty slot matches an empty connection
}

TEST(Accounts, ChooserListsConfiguredSlots) {
    MailboxTable t;
    t.slot(1) = {"pop.a", "ann", "x"};
    EXPECT_FALSE(NeedsChooser(t));
    t.slot(3) = {"pop.c", "cid", "y"};
    EXPECT_TRUE(NeedsChooser(t));
    auto entries = ChooserEntries(t);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "1) Mailbox ann - Server pop.a");
    EXPECT_EQ(entries[1].text, "3) Mailbox cid - Server pop.c");
    EXPECT_EQ(ChooserPreselect(entries, 3), 1);
    EXPECT_EQ(ChooserPreselect(entries, 2), -1);
    EXPECT_EQ(ChooserNumber(entries[1].text), 3);
    EXPECT_EQ(ChooserNumber("12) Mailbox x) - Server y"), 12);
    EXPECT_EQ(ChooserNumber("no number"), std::nullopt);
}

TEST(Accounts, FirstRunHeaderRule) {
    MailboxTable t;
    EXPECT_TRUE(IsNewUser(t));
    t.slot(1).userName = "bob";
    EXPECT_FALSE(IsNewUser(t));
    EXPECT_EQ(FirstRunHeaderRule("bob"),
              (std::vector<std::string>{"", "To does not contain", "bob - MailBox #1", "No", "Yes",
                                        "0"}));
    EXPECT_EQ(FirstRunHeaderRule("")[2], " - MailBox #1");
}

TEST(Accounts, FirstRunHeaderRuleGoesFirstAndIsSaved) {
    TempDir dir;
    SpamSettings spam;
    spam.readSettings(dir.path());
    spam.HeaderRule.AppendRow({"", "Contains", "X-Mailer: Floodgate", "No", "Yes", "3"});
    MailboxTable t;
    t.slot(1).userName = "bob";
    AddFirstRunHeaderRule(spam, t, dir.path());
    SpamSettings back;
    back.readSettings(dir.path());
    EXPECT_EQ(back.HeaderRule.Cell(1, 1), "To does not contain");
    EXPECT_EQ(back.HeaderRule.Cell(2, 1), "bob - MailBox #1");
    EXPECT_EQ(back.HeaderRule.Cell(2, 2), "X-Mailer: Floodgate");
}
