// The notification's text and the login entry.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/runnotice.h"
#include "settings/autostart.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

TEST(RunNotice, NamesCountAndMailboxAndStaysSilentWhenNothingHappened) {
    struct Case {
        const char* name;
        std::vector<MailboxRunResult> results;
        std::string text;
    };
    const Case cases[] = {
        {"nothing", {{"ann", "pop.example.com", 0, 0}}, ""},
        {"deleted",
         {{"ann", "pop.example.com", 4, 0}},
         "4 junk messages deleted from ann on pop.example.com"},
        {"one deleted",
         {{"ann", "pop.example.com", 1, 0}},
         "1 junk message deleted from ann on pop.example.com"},
        {"stopped with mail",
         {{"bob", "mail.example.org", 0, 2}},
         "2 messages waiting in bob on mail.example.org"},
        {"several mailboxes, quiet ones left out",
         {{"ann", "a.example", 3, 0}, {"cy", "c.example", 0, 0}, {"bob", "b.example", 1, 1}},
         "3 junk messages deleted from ann on a.example\n"
         "1 junk message deleted from bob on b.example\n"
         "1 message waiting in bob on b.example"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunNoticeText(c.results), c.text) << c.name;
}

TEST(Autostart, OnOffAndTheDesktopsOwnSwitch) {
    test::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string path = config.file("autostart/org.kelvane.Kelvane.desktop");
    EXPECT_EQ(AutostartPath(), path);
    EXPECT_FALSE(AutostartEnabled());
    SetAutostart(true);
    EXPECT_TRUE(AutostartEnabled());
    EXPECT_NE(test::ReadFile(path).find("\nExec=kelvane\n"), std::string::npos);
    // A desktop's settings switch an entry off without removing it.
    for (const char* off : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        test::WriteFile(path,
                        "[Desktop Entry]\nType=Application\nExec=kelvane\n" + std::string(off));
        EXPECT_FALSE(AutostartEnabled()) << off;
    }
    SetAutostart(false);
    EXPECT_EQ(test::ReadFile(path), "");
    EXPECT_FALSE(AutostartEnabled());
    SetAutostart(false);  // already off: no error
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(Autostart, ExecQuotesWhatTheDesktopWouldSplitOrExpand) {
    struct Case {
        std::string program, exec;
    };
    const Case cases[] = {
        {"kelvane", "Exec=kelvane\n"},
        {"/opt/kelvane-0.1/kelvane", "Exec=/opt/kelvane-0.1/kelvane\n"},
        {"/home/ann/my build/kelvane", "Exec=\"/home/ann/my build/kelvane\"\n"},
        {"/home/ann/100%/kelvane", "Exec=\"/home/ann/100%%/kelvane\"\n"},
        {"/home/ann/$x\\y/kelvane", "Exec=\"/home/ann/\\\\$x\\\\\\\\y/kelvane\"\n"},
    };
    for (const Case& c : cases) {
        const std::string entry = AutostartEntry(c.program);
        EXPECT_NE(entry.find("\n" + c.exec), std::string::npos) << c.program << "\n" << entry;
    }
}

}  // namespace
}  // namespace kelvane
