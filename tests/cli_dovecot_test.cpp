// kelvane-cli check against a real POP3 server: a private Dovecot started
// once for this executable, a mailbox per test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dovecot.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::Dovecot;
using test::ReadFile;
using test::RuleFile;
using test::RunCli;
using test::TempDir;
using test::WriteFile;

Dovecot& Server() {
    static Dovecot server({"cli-check", "cli-delete", "cli-all-a", "cli-all-b"});
    return server;
}

std::string Message(int n, const std::string& from, const std::string& subject) {
    return "Return-Path: <" + from + ">\nFrom: " + from +
           "\nTo: me@example.com\nSubject: " + subject + "\nDate: Mon, 4 Mar 2024 10:0" +
           std::to_string(n) + ":00 +0100\nMessage-ID: <cli." + std::to_string(n) +
           "@example.org>\n\nBody of " + std::to_string(n) + "\nsecond line\n";
}

// A program folder with a subject rule and a blacklist, and a per-user store
// whose slots point at the test server.
struct Folders {
    TempDir home;
    TempDir prog;

    Folders() {
        WriteFile(prog.file("subj.lst"), RuleFile(6, {"Contains", "free", "No", "Yes", "0"}));
        WriteFile(prog.file("known.lst"), "spam.example\r\n");
        WriteFile(prog.file("Kelvane.ini"), "[Known]\r\nQMonitor=1\r\n");
    }
    void Mailbox(int slot, const std::string& user) {
        const auto r = RunCli({"--dir", prog.path(), "mailbox", "set", std::to_string(slot),
                               "--server", Server().Address(), "--user", user, "--password-stdin"},
                              home.path(), Server().Password(user) + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    test::RunResult Check(std::vector<std::string> args) {
        args.insert(args.begin(), {"--dir", prog.path(), "check"});
        return RunCli(args, home.path());
    }
};

// The MARK column of each line, in order.
std::vector<std::string> Marks(const std::string& out) {
    std::vector<std::string> marks;
    std::size_t p = 0;
    while (p < out.size()) {
        const std::size_t end = out.find('\n', p);
        const std::string line = out.substr(p, end - p);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            marks.push_back(line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1));
        p = end == std::string::npos ? out.size() : end + 1;
    }
    return marks;
}

TEST(CliDovecot, CheckListsAndDeletesNothing) {
    KELVANE_REQUIRE_DOVECOT();
    const std::string user = "cli-check";
    Server().AddMessage(user, Message(1, "deals@shop.example", "FREE stuff"));
    Server().AddMessage(user, Message(2, "ann@friend.example", "Lunch"));
    Folders s;
    s.Mailbox(1, user);

    const auto r = s.Check({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Marks(r.out), (std::vector<std::string>{"delete", "none"}));
    EXPECT_NE(r.out.find("0\tdelete\tFREE stuff\tdeals@shop.example\t"), std::string::npos)
        << r.out;
    EXPECT_EQ(Server().MessageIds(user).size(), 2u);
    // The hit was saved.
    EXPECT_NE(ReadFile(s.prog.file("subj.lst")).find("5,1,1\r\n"), std::string::npos);
}

TEST(CliDovecot, DeleteRemovesExactlyTheMarkedMessages) {
    KELVANE_REQUIRE_DOVECOT();
    const std::string user = "cli-delete";
    Server().AddMessage(user, Message(1, "ann@friend.example", "Agenda"));
    Server().AddMessage(user, Message(2, "deals@shop.example", "free gift"));
    Server().AddMessage(user, Message(3, "promo@spam.example", "Hello"));
    Server().AddMessage(user, Message(4, "bob@friend.example", "Photos"));
    Folders s;
    s.Mailbox(1, user);

    const auto r = s.Check({"--delete"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Marks(r.out), (std::vector<std::string>{"none", "delete", "known-spammer", "none",
                                                      "none", "none"}));
    EXPECT_NE(r.out.find("There were 2 messages deleted\n"), std::string::npos) << r.out;
    EXPECT_EQ(Server().MessageIds(user),
              (std::vector<std::string>{"<cli.1@example.org>", "<cli.4@example.org>"}));
    const auto total =
        RunCli({"--dir", s.prog.path(), "settings", "get", "General", "Count"}, s.home.path());
    EXPECT_EQ(total.out, "2\n");
}

// Every configured mailbox in turn; a slot with a wrong password fails
// alone, and the walk goes on.
TEST(CliDovecot, AllWalksEveryMailbox) {
    KELVANE_REQUIRE_DOVECOT();
    Server().AddMessage("cli-all-a", Message(1, "deals@shop.example", "free"));
    Server().AddMessage("cli-all-b", Message(2, "ann@friend.example", "hi"));
    Folders s;
    s.Mailbox(1, "cli-all-a");
    const auto bad = RunCli({"--dir", s.prog.path(), "mailbox", "set", "2", "--server",
                             Server().Address(), "--user", "cli-all-b", "--password-stdin"},
                            s.home.path(), "wrong\n");
    ASSERT_EQ(bad.status, 0) << bad.err;
    s.Mailbox(3, "cli-all-b");

    const auto r = s.Check({"--all", "--delete"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "-ERR [AUTH] Authentication failed.\n");
    EXPECT_NE(r.out.find("# mailbox 1: cli-all-a on "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("# mailbox 3: cli-all-b on "), std::string::npos) << r.out;
    EXPECT_TRUE(Server().MessageIds("cli-all-a").empty());
    EXPECT_EQ(Server().MessageIds("cli-all-b").size(), 1u);
}

}  // namespace
}  // namespace kelvane
