#include "app/activitylog.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "base/error.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

namespace {

// 2026-12-08 06:30 UTC, a Tuesday.
constexpr std::time_t kWhen = 1796711400;

class ActivityLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    TempDir dir;
    std::string name = dir.file("logfile.txt");
    ActivityLog log{[this] { return name; }, [] { return kWhen; }};
};

}  // namespace

TEST_F(ActivityLogTest, StampUsesTheLocaleShortForms) {
    EXPECT_EQ(LogTimeStamp(kWhen), "Tue 12/08/26 06:30");  // the C locale
}

TEST(ShortTime, SecondsFieldDropped) {
    const struct {
        const char* format;
        const char* shortTime;
    } cases[] = {
        {"%H:%M:%S", "%H:%M"},
        {"%T", "%H:%M"},
        {"%I:%M:%S %p", "%I:%M %p"},
        {"%H.%M.%S", "%H.%M"},
        {"%H時%M分%S秒", "%H時%M分"},
        {"%H:%M", "%H:%M"},
        {"", "%H:%M"},
        {"%S", "%H:%M"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShortTimeFormat(c.format), c.shortTime) << c.format;
}

// Real locales, compiled by the test into a folder of its own.
TEST_F(ActivityLogTest, StampInRealLocales) {
    TempDir locales;
    const struct {
        const char* name;
        const char* stamp;
    } cases[] = {
        {"en_US", "Tue 12/08/2026 06:30 AM"},
        {"de_DE", "Di 08.12.2026 06:30"},
    };
    for (const auto& c : cases) {
        const std::string out = locales.file(std::string(c.name) + ".UTF-8");
        const std::string cmd =
            std::string("localedef -i ") + c.name + " -f UTF-8 '" + out + "' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build " << c.name;
    }
    setenv("LOCPATH", locales.path().c_str(), 1);
    for (const auto& c : cases) {
        ASSERT_NE(setlocale(LC_TIME, (std::string(c.name) + ".UTF-8").c_str()), nullptr) << c.name;
        EXPECT_EQ(LogTimeStamp(kWhen), c.stamp) << c.name;
    }
    setlocale(LC_TIME, "C");
    unsetenv("LOCPATH");
}

TEST_F(ActivityLogTest, LinesAreAppendedAfterWhatWasThere) {
    WriteFile(name, "old line\r\n");
    log.LogMailCheck(3, "bob", "pop.example.com");
    log.LogCanceled("bob", "pop.example.com");
    log.LogError("Connection refused", "bob", "pop.example.com");
    log.LogAutomaticMode(false);
    log.LogAutomaticPostponed();
    EXPECT_EQ(ReadFile(name),
              "old line\r\n"
              "MAIL CHECK 3 msg(s) for \"bob\" on server pop.example.com at Tue 12/08/26 06:30\r\n"
              "OPERATION CANCELED FOR bob ON pop.example.com AT Tue 12/08/26 06:30\r\n"
              "ERROR Connection refused FOR bob ON pop.example.com AT Tue 12/08/26 06:30\r\n"
              "Automatic mode disabled at Tue 12/08/26 06:30\r\n"
              "Automatic check postponed: offline at Tue 12/08/26 06:30\r\n");
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(ActivityLogTest, DeletionBlocksWhileTheLogIsKeptOpen) {
    log.OpenLogFile();
    log.LogDeletion("pop.x", "bob", "Win\r\nBIG", "spam@bad.com", "1234", "08.12.2026 06:00");
    EXPECT_TRUE(log.IsOpen());
    log.LogDeletion("pop.x", "bob", "Two", "b@bad.com", "99", "");
    log.CloseLogFile();
    EXPECT_EQ(ReadFile(name),
              "DELETE SPAM on Tue 12/08/26 06:30\r\n"
              "   Server:  pop.x Mailbox: bob\r\n"
              "   Subject: Win  BIG\r\n"  // a line break in a subject forges no line
              "   Sender:  spam@bad.com\r\n"
              "   Size:    1234  Date: 08.12.2026 06:00\r\n"
              "DELETE SPAM on Tue 12/08/26 06:30\r\n"
              "   Server:  pop.x Mailbox: bob\r\n"
              "   Subject: Two\r\n"
              "   Sender:  b@bad.com\r\n"
              "   Size:    99  Date: \r\n");
}

TEST_F(ActivityLogTest, BlankNameMeansNoLog) {
    for (std::string blank : {"", "   "}) {
        name = blank;
        log.LogMailCheck(1, "bob", "pop.x");
        EXPECT_FALSE(log.IsOpen());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(ActivityLogTest, UnopenableFileRaisesTheSystemsText) {
    name = dir.file("missing/folder/log.txt");
    try {
        log.LogMailCheck(1, "bob", "pop.x");
        FAIL() << "no error";
    } catch (const KelvaneError& e) {
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
    EXPECT_FALSE(log.IsOpen());
    // Cleared by the user: the next line creates it anew.
    name = dir.file("logfile.txt");
    log.LogAutomaticMode(true);
    EXPECT_EQ(ReadFile(name), "Automatic mode enabled at Tue 12/08/26 06:30\r\n");
}
