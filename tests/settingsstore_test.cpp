#include "settings/settingsstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/error.h"
#include "settings/keys.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

TEST(StoredInteger, DecodesAsTheStoresDo) {
    struct Row {
        const char* text;
        bool ok;
        int32_t value;
    } rows[] = {
        {"30", true, 30},
        {"-7", true, -7},
        {"+4", true, 4},
        {"0x1E", true, 30},
        {"0X1e", true, 30},
        {"0xFFFFFFFF", true, -1},
        {"0x0000000010", true, 16},
        {"0x", false, 0},
        {"0x1G", false, 0},
        {"ten", false, 0},
        {"", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"99999999999999999999", false, 0},
        {"0x123456789", false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        int32_t v = 12345;
        EXPECT_EQ(ParseStoredInteger(r.text, v), r.ok);
        if (r.ok) {
            EXPECT_EQ(v, r.value);
        }
    }
}

TEST(SettingsStore, FreshUserGetsTheDefaults) {
    TempDir dir;
    Locations where{dir.path(), dir.file("cfg/10.ini")};
    SettingsStore user = SettingsStore::OpenUser(where);
    SettingsStore ini = SettingsStore::OpenProgram(where);
    EXPECT_FALSE(keys::Read(user, keys::Automatic));
    EXPECT_TRUE(keys::Read(user, keys::Ask));
    EXPECT_EQ(keys::Read(user, keys::Minutes), 10);
    EXPECT_TRUE(keys::Read(user, keys::Alarm));
    EXPECT_TRUE(keys::Read(user, keys::Repeat));
    EXPECT_TRUE(keys::Read(user, keys::Launch));
    EXPECT_FALSE(keys::Read(user, keys::SysTray));
    EXPECT_EQ(keys::Read(user, keys::RAS), 0);
    EXPECT_EQ(keys::Read(user, keys::Count), "0");
    EXPECT_EQ(keys::Read(user, keys::Which), 1);
    EXPECT_FALSE(keys::Read(ini, keys::QSmaller));
    EXPECT_EQ(keys::Read(ini, keys::SmallerNum), 5);
    EXPECT_EQ(keys::Read(ini, keys::LargerNum), 20000);
    EXPECT_TRUE(keys::Read(ini, keys::LargerCheck));
    EXPECT_FALSE(keys::Read(ini, keys::QMonitor));
    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(where.userStore));
    EXPECT_FALSE(std::filesystem::exists(where.IniPath()));
}

TEST(SettingsStore, StoredTextsDecodeLikeTheRegistry) {
    TempDir dir;
    WriteFile(dir.file("u.ini"),
              "[general]\r\nminutes=0x1E\r\nMINUTES=99\r\nAlarm=2\r\nKill=ten\r\n"
              "Count=0012\r\n[Server]\r\nWhich = 3 \r\n");
    SettingsStore s = SettingsStore::OpenUser(dir.file("u.ini"));
    EXPECT_EQ(keys::Read(s, keys::Minutes), 30);  // the first of two spellings wins
    EXPECT_TRUE(keys::Read(s, keys::Alarm));      // any non-zero is true
    EXPECT_FALSE(keys::Read(s, keys::Kill));      // no number: the default
    EXPECT_EQ(keys::Read(s, keys::Count), "0012");
    EXPECT_EQ(keys::Read(s, keys::Which), 3);
    EXPECT_EQ(s.ReadString("GENERAL", "alarmfile", "x"), "x");
}

TEST(SettingsStore, WritesAreSeenByTheNextBatchAndKeepOtherValues) {
    TempDir dir;
    std::string path = dir.file("deep/er/10.ini");
    {
        SettingsStore s = SettingsStore::OpenUser(path);
        keys::Write(s, keys::Automatic, true);
        keys::Write(s, keys::Minutes, -3);
        keys::Write(s, keys::Mailer, "/usr/bin/thunderbird");
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
        SettingsStore s = SettingsStore::OpenUser(path);
        s.WriteString("general", "MINUTES", "7");  // same key, other spelling
    }
    SettingsStore s = SettingsStore::OpenUser(path);
    EXPECT_TRUE(keys::Read(s, keys::Automatic));
    EXPECT_EQ(keys::Read(s, keys::Minutes), 7);
    EXPECT_EQ(keys::Read(s, keys::Mailer), "/usr/bin/thunderbird");
    EXPECT_EQ(ReadFile(path), "[General]\nAutomatic=1\nMinutes=7\nMailer=/usr/bin/thunderbird\n");
}

// Two programs with the store open: each write re-reads the file, so
// neither loses what the other wrote, and the file ends 0600 whatever mode
// it was given.
TEST(SettingsStore, WritersKeepEachOthersValuesAndTheFileStaysPrivate) {
    TempDir dir;
    const std::string path = dir.file("10.ini");
    SettingsStore a = SettingsStore::OpenUser(path);
    SettingsStore b = SettingsStore::OpenUser(path);
    keys::Write(a, keys::Logfile, "/a.log");
    ::chmod(path.c_str(), 0644);
    keys::Write(b, keys::Mailer, "mutt");
    keys::Write(a, keys::Minutes, 7);
    const SettingsStore back = SettingsStore::OpenUser(path);
    EXPECT_EQ(keys::Read(back, keys::Logfile), "/a.log");
    EXPECT_EQ(keys::Read(back, keys::Mailer), "mutt");
    EXPECT_EQ(keys::Read(back, keys::Minutes), 7);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A batch replaces the file once, at its end, or not at all when it fails.
TEST(SettingsStore, BatchIsOneChangeOrNone) {
    TempDir dir;
    const std::string path = dir.file("10.ini");
    SettingsStore s = SettingsStore::OpenUser(path);
    s.WriteString("Server", "Server1", "pop.a");
    const std::string before = ReadFile(path);
    EXPECT_THROW(s.Batch([&] {
        s.WriteString("Server", "Server1", "pop.b");
        throw StoreError("stop");
    }),
                 StoreError);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(s.ReadString("Server", "Server1", ""), "pop.a");
    s.Batch([&] {
        s.WriteString("Server", "Server1", "pop.b");
        EXPECT_EQ(ReadFile(path), before);
        s.WriteString("Server", "Mailbox1", "bob");
    });
    EXPECT_EQ(ReadFile(path), "[Server]\nServer1=pop.b\nMailbox1=bob\n");
}

TEST(SettingsStore, AnyTextSurvivesTheFile) {
    TempDir dir;
    const std::string values[] = {
        "",
        " leading",
        "trailing\t",
        "\"quoted\"",
        "a\r\nb",
        "back\\slash",
        "x=y;z",
        std::string("nul\0byte", 8),
        "\x01\x7f\xe9\xff",
        "[Section]",
        "  ",
    };
    {
        SettingsStore s = SettingsStore::OpenUser(dir.file("u.ini"));
        for (std::size_t i = 0; i < std::size(values); ++i)
            s.WriteString("S", std::string("k").append(std::to_string(i)), values[i]);
    }
    SettingsStore s = SettingsStore::OpenUser(dir.file("u.ini"));
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(s.ReadString("S", std::string("k").append(std::to_string(i)), "?"), values[i])
            << i;
    EXPECT_EQ(IniDocument::Parse(ReadFile(dir.file("u.ini"))).Sections().size(), 1u);
}

TEST(SettingsStore, HandWrittenCommentsSurviveAWrite) {
    TempDir dir;
    WriteFile(dir.file("Kelvane.ini"),
              "; my limits\n[Smaller]\n# keep\nNum=9\n\n[Known]\nQMonitor=1\n");
    SettingsStore s = SettingsStore::OpenProgram(dir.file("Kelvane.ini"));
    keys::Write(s, keys::SmallerCheck, false);
    EXPECT_EQ(ReadFile(dir.file("Kelvane.ini")),
              "; my limits\n[Smaller]\n# keep\nNum=9\nCheck=0\n\n[Known]\nQMonitor=1\n");
}

TEST(SettingsStore, ProgramStoreValuesAreCutAt1023) {
    TempDir dir;
    std::string longValue(3000, 'a');
    SettingsStore ini = SettingsStore::OpenProgram(dir.file("Kelvane.ini"));
    ini.WriteString("Known", "Note", longValue);
    SettingsStore user = SettingsStore::OpenUser(dir.file("u.ini"));
    user.WriteString("General", "Logfile", longValue);
    EXPECT_EQ(SettingsStore::OpenProgram(dir.file("Kelvane.ini")).ReadString("Known", "Note", ""),
              std::string(1023, 'a'));
    EXPECT_EQ(SettingsStore::OpenUser(dir.file("u.ini")).ReadString("General", "Logfile", ""),
              longValue);
}

TEST(SettingsStore, UnreadableUserStoreIsNeverReplaced) {
    TempDir dir;
    std::string path = dir.file("10.ini");
    std::filesystem::create_directory(path);  // exists, but cannot be read as a file
    SettingsStore s = SettingsStore::OpenUser(path);
    try {
        keys::Read(s, keys::Minutes);
        FAIL() << "read did not fail";
    } catch (const StoreError& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'Minutes'");
    }
    try {
        keys::Write(s, keys::Alarm, false);
        FAIL() << "write did not fail";
    } catch (const StoreError& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Alarm'");
    }
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(SettingsStore, FailedProgramWriteNamesTheFileAndKeepsTheOld) {
    TempDir dir;
    WriteFile(dir.file("file"), "x");
    std::string bad = dir.file("file/Kelvane.ini");  // parent is a regular file
    SettingsStore s = SettingsStore::OpenProgram(bad);
    EXPECT_EQ(keys::Read(s, keys::SmallerNum), 5);
    try {
        keys::Write(s, keys::SmallerNum, 6);
        FAIL() << "write did not fail";
    } catch (const StoreError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad);
    }
    // An existing file stays whole when the write cannot complete.
    std::string good = dir.file("Kelvane.ini");
    WriteFile(good, "[Smaller]\nNum=9\n");
    std::filesystem::create_directory(good + ".tmp-XXXXXX");  // harmless: mkstemp picks others
    SettingsStore t = SettingsStore::OpenProgram(good);
    keys::Write(t, keys::SmallerNum, 10);
    EXPECT_EQ(ReadFile(good), "[Smaller]\nNum=10\n");
    int leftovers = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().find(".tmp-") != std::string::npos && !e.is_directory())
            ++leftovers;
    EXPECT_EQ(leftovers, 0);
}

TEST(SettingsKeys, DefaultsForTheCommandLine) {
    EXPECT_EQ(keys::UserStoreDefault("general", "minutes"), "10");
    EXPECT_EQ(keys::UserStoreDefault("General", "Ask"), "1");
    EXPECT_EQ(keys::UserStoreDefault("Server", "Passwd12"), "");
    EXPECT_EQ(keys::UserStoreDefault("General", "Nope"), std::nullopt);
}

// An installed program cannot write beside itself; a build tree or a
// portable copy can. (As root every existing folder is writable, so a
// missing one stands in for a read-only one.)
TEST(Locations, ProgramFolderFallsBackToTheUsersDataFolder) {
    TempDir home;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", home.path().c_str(), 1);
    const std::string fallback = home.file(".local/share/Kelvane");
    const struct {
        const char* xdgDataHome;  // null: unset
        std::string exeFolder;
        std::string expected;
    } cases[] = {
        {nullptr, home.path(), home.path()},
        {nullptr, "/nonexistent/bin", fallback},
        {"", "/nonexistent/bin", fallback},
        {"relative", "/nonexistent/bin", fallback},
        {"ABS", "/nonexistent/bin", home.file("xdg/Kelvane")},
    };
    for (const auto& c : cases) {
        if (!c.xdgDataHome)
            unsetenv("XDG_DATA_HOME");
        else
            setenv("XDG_DATA_HOME",
                   std::string(c.xdgDataHome) == "ABS" ? home.file("xdg").c_str() : c.xdgDataHome,
                   1);
        const std::string got = Locations::ProgramFolderFor(c.exeFolder);
        EXPECT_EQ(got, c.expected) << c.exeFolder;
        struct stat st {};
        ASSERT_EQ(::stat(got.c_str(), &st), 0) << got;
        if (got != home.path()) {
            EXPECT_EQ(st.st_mode & 0777, 0700u) << got;
        }
    }
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", savedHome.c_str(), 1);

    // Shipped read-only files: the program folder's copy first.
    Locations where{home.path(), home.file("10.ini")};
    EXPECT_EQ(where.DataFile("no-such-file.hlp"), home.file("no-such-file.hlp"));
    WriteFile(home.file("Kelvane.hlp"), "ours");
    EXPECT_EQ(where.DataFile("Kelvane.hlp"), home.file("Kelvane.hlp"));
}
