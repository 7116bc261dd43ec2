// The live general settings against the store, and the detections of the
// user's mail program and first account on files the tests write.

#include "settings/generalsettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "settings/mailclient.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

TEST(GeneralSettings, RoundTripsEveryKeyAndTheTableAndKeepsWhatOthersChanged) {
    TempDir dir;
    SettingsStore user = SettingsStore::OpenUser(dir.file("user.ini"));
    const GeneralSettings fresh = GeneralSettings::Read(user);
    EXPECT_TRUE(fresh.ask && fresh.launch && fresh.alarm && fresh.repeat && fresh.pipelining);
    EXPECT_EQ(fresh.minutes, 10);
    EXPECT_EQ(fresh.count, "0");

    GeneralSettings s = fresh;
    s.logfile = "/tmp/log.txt";
    s.mailer = "thunderbird -mail";
    s.automatic = s.kill = s.sysTray = true;
    s.ask = s.pipelining = false;
    s.minutes = 45;
    s.timeOut = 90;
    s.count = "12";
    s.table.selected = 3;
    s.table.slot(3) = {"pop.example", "ann", "p\xE9w", ConnectionSecurity::StartTls, ""};
    s.Write(user);
    GeneralSettings back = GeneralSettings::Read(SettingsStore::OpenUser(dir.file("user.ini")));
    back.table.defaultMailbox = s.table.defaultMailbox = 3;
    for (const GeneralKeyRow& row : GeneralKeyRows())
        std::visit([&](auto field) { EXPECT_EQ(back.*field, s.*field); }, row.field);
    EXPECT_EQ(back.table.slot(3).password, "p\xE9w");
    EXPECT_EQ(back.table.slot(3).security, ConnectionSecurity::StartTls);

    // Another program raises the total and changes the interval; the dialog
    // then changes only the mail program and writes since its last read.
    {
        SettingsStore other = SettingsStore::OpenUser(dir.file("user.ini"));
        keys::Write(other, keys::Count, "20");
        keys::Write(other, keys::Minutes, 5);
    }
    GeneralSettings edited = back;
    edited.mailer = "evolution";
    edited.WriteGeneral(user, &back);
    const SettingsStore after = SettingsStore::OpenUser(dir.file("user.ini"));
    EXPECT_EQ(keys::Read(after, keys::Count), "20");
    EXPECT_EQ(keys::Read(after, keys::Minutes), 5);
    EXPECT_EQ(keys::Read(after, keys::Mailer), "evolution");
}

TEST(GeneralSettings, CheckRefusesTheFirstBadSlotAndThePinRules) {
    const std::string pin(64, 'a');
    struct Case {
        const char* name;
        int slot;
        MailboxAccount account;
        const char* message;  // empty: accepted
        AccountField focus;
    };
    const Case cases[] = {
        {"password only", 2, {"", "", "pw"}, "", AccountField::None},
        {"no password",
         3,
         {"h", "u", ""},
         "Mailbox 3 - there is no password set",
         AccountField::Password},
        {"line break",
         4,
         {"h\nUSER x", "u", "pw"},
         "Mailbox 4 - the server must not contain a line break or a NUL character",
         AccountField::Server},
        {"bad pin",
         5,
         {"h", "u", "pw", ConnectionSecurity::Tls, "12:34"},
         "Mailbox 5 - the fingerprint must be 64 hexadecimal digits (colons allowed)",
         AccountField::Fingerprint},
        {"pin in plain text",
         6,
         {"h", "u", "pw", ConnectionSecurity::None, pin},
         "Mailbox 6 - a pinned fingerprint needs TLS or STARTTLS",
         AccountField::Security},
        {"pin with TLS", 7, {"h", "u", "pw", ConnectionSecurity::Tls, pin}, "", AccountField::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GeneralSettings s;
        s.table.slot(c.slot) = c.account;
        // A later bad slot never hides an earlier one.
        s.table.slot(12) = {"h", "", ""};
        const auto bad = s.Check();
        ASSERT_TRUE(bad);
        if (*c.message) {
            EXPECT_EQ(bad->slot, c.slot);
            EXPECT_EQ(bad->message, c.message);
            EXPECT_EQ(bad->focus, c.focus);
        } else {
            EXPECT_EQ(bad->slot, 12);
        }
    }
}

namespace {

struct Desktop {
    TempDir dir;
    DesktopPlaces places;
    Desktop() {
        places.home = dir.file("home");
        places.dataHome = dir.file("home/.local/share");
        places.dataDirs = {dir.file("usr/share")};
        places.xdgMime = dir.file("xdg-mime");
    }
    void Put(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(path)).parent_path());
        WriteFile(dir.file(path), text);
    }
    // xdg-mime that answers the mailto query with id.
    void Handler(const std::string& id) {
        Put("xdg-mime",
            "#!/bin/sh\n[ \"$*\" = \"query default x-scheme-handler/mailto\" ] && "
            "echo '" +
                id + "'\n");
        ::chmod(dir.file("xdg-mime").c_str(), 0755);
    }
};

const char* kPrefs =
    "// Mozilla User Preferences\n"
    "user_pref(\"mail.accountmanager.accounts\", \"account3,account1,account2\");\n"
    "user_pref(\"mail.account.account3.server\", \"server3\");\n"
    "user_pref(\"mail.server.server3.type\", \"imap\");\n"
    "user_pref(\"mail.server.server3.hostname\", \"imap.example\");\n"
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server1.hostname\", \"pop.example\");\n"
    "user_pref(\"mail.server.server1.userName\", \"ann \\\"a\\\"\");\n"
    "user_pref(\"mail.server.server1.port\", 1995);\n"
    "user_pref(\"mail.server.server1.socketType\", 3);\n"
    "user_pref(\"mail.account.account2.server\", \"server2\");\n"
    "user_pref(\"mail.server.server2.type\", \"pop3\");\n"
    "user_pref(\"mail.server.server2.hostname\", \"second.example\");\n";

}  // namespace

TEST(MailClient, FirstPopAccountOfTheDefaultThunderbirdProfile) {
    struct Case {
        const char* name;
        const char* folder;  // under home
        const char* profilesIni;
        const char* profile;  // where prefs.js is written, under folder
        const char* server;   // empty: nothing found
    };
    const Case cases[] = {
        {"install default wins", ".thunderbird",
         "[Profile0]\nName=a\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
         "[Install4F96D1932A9F858E]\nDefault=new.default-release\nLocked=1\n\n"
         "[Profile1]\nName=b\nIsRelative=1\nPath=new.default-release\n",
         "new.default-release", "pop.example:1995"},
        {"Default=1 without install", ".thunderbird",
         "[Profile0]\nPath=x.other\n[Profile1]\nPath=y.main\nDefault=1\n", "y.main",
         "pop.example:1995"},
        {"flatpak", ".var/app/org.mozilla.Thunderbird/.thunderbird",
         "[Profile0]\r\nPath=z.only\r\n", "z.only", "pop.example:1995"},
        {"default profile missing", ".thunderbird", "[Profile0]\nPath=a\n[Profile1]\nPath=b\n", "a",
         ""},
        {"no profiles.ini", ".thunderbird", nullptr, "p", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop d;
        const std::string folder = std::string("home/") + c.folder;
        if (c.profilesIni) d.Put(folder + "/profiles.ini", c.profilesIni);
        d.Put(folder + "/" + c.profile + "/prefs.js", kPrefs);
        MailboxTable table;
        const bool filled = FillSlotOneFromMailClient(table, d.places);
        EXPECT_EQ(table.slot(1).server, c.server);
        EXPECT_EQ(filled, *c.server != 0);
        if (filled) {
            EXPECT_EQ(table.slot(1).userName, "ann \"a\"");
            EXPECT_EQ(table.slot(1).security, ConnectionSecurity::Tls);
            // Only while slot 1's server is empty.
            table.slot(1) = {"mine.example", "me", ""};
            EXPECT_FALSE(FillSlotOneFromMailClient(table, d.places));
            EXPECT_EQ(table.slot(1).userName, "me");
        }
    }
}

TEST(MailClient, MailtoHandlerCommandWithoutFieldCodes) {
    struct Case {
        const char* name;
        const char* id;        // the handler's answer; null: the command is missing
        const char* path;      // where the desktop file lies
        const char* contents;  // of that file
        const char* command;
    };
    const Case cases[] = {
        {"in the data home", "mail.desktop", "home/.local/share/applications/mail.desktop",
         "[Desktop Entry]\nName=Mail\nExec=thunderbird -compose %u\n\n"
         "[Desktop Action Compose]\nExec=other\n",
         "thunderbird -compose"},
        {"data dirs, percent kept", "evo.desktop", "usr/share/applications/evo.desktop",
         "[Desktop Entry]\nExec=\"/opt/My Mail/evo\" --rate=50%% %U %i\n",
         "\"/opt/My Mail/evo\" --rate=50%"},
        {"dash as sub-folder", "kde4-kmail.desktop", "usr/share/applications/kde4/kmail.desktop",
         "[Desktop Entry]\nExec=kmail %u\n", "kmail"},
        {"no such file", "gone.desktop", "usr/share/applications/other.desktop",
         "[Desktop Entry]\nExec=x\n", ""},
        {"a path is no id", "../../etc/x.desktop", "usr/share/applications/x.desktop",
         "[Desktop Entry]\nExec=x\n", ""},
        {"no xdg-mime", nullptr, "usr/share/applications/x.desktop", "[Desktop Entry]\nExec=x\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop d;
        if (c.id) d.Handler(c.id);
        d.Put(c.path, c.contents);
        EXPECT_EQ(GetMailPath(d.places), c.command);
    }
}

TEST(MailClient, MailProgramArgumentsSplitLikeAnExecLine) {
    TempDir dir;
    const std::string spaced = dir.file("My Mail");
    WriteFile(spaced, "");
    EXPECT_EQ(MailProgramArguments(spaced), std::vector<std::string>{spaced});
    EXPECT_EQ(MailProgramArguments("\"/opt/My Mail/evo\" --rate=50% a\\ b"),
              (std::vector<std::string>{"/opt/My Mail/evo", "--rate=50%", "a b"}));
    EXPECT_EQ(MailProgramArguments("   "), std::vector<std::string>{});
}
