// Runs the real kelvane-cli check against scripted POP3 servers on the
// loopback interface, with a per-user store and a rule set of the test's own.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

using kelvane::test::FakeServer;
using kelvane::test::ReadFile;
using kelvane::test::RuleFile;
using kelvane::test::RunCli;
using kelvane::test::RunResult;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

namespace {

const std::string kPassword = "Pw-7q!zeta";
const std::string kNeedUser = "You need to enter your e-mail username in the settings.\n";
const std::string kNeedServer = "You need to enter the name of your mail server in the settings.\n";

const std::string kFreeSubject = RuleFile(6, {"Contains", "free", "No", "Yes", "0"});
// The rule's saved row 1 once it has been credited with one hit.
const std::string kOneHit = "5,1,1\r\n";

struct Mail {
    std::string headers;  // each line ended by CR LF
    int size;
};

// Marked delete by the subject rule.
const Mail kFree{
    "Message-ID: <1@a.com>\r\nFrom: Ann <ann@a.com>\r\nSubject: Get FREE stuff\r\n"
    "Date: Tue, 02 Jan 2024 13:45:10 +0100\r\n",
    1200};
// Marked by the blacklist; no Date field.
const Mail kSpammer{"Message-ID: <2@spam.biz>\r\nFrom: joe@spam.biz\r\nSubject: hello\r\n", 800};
// Clean, with a From that is no address and a Date that is no date.
const Mail kBroken{
    "Message-ID: <3@c.com>\r\nFrom:   <<<broken  \r\nSubject: Lunch\r\n"
    "Date: sometime soon\r\n",
    300};
// What another mail program may have left at a number in the meantime.
const Mail kOther{"Message-ID: <9@z.com>\r\nFrom: zed@z.com\r\nSubject: other\r\n", 100};

const std::string kFreeRow = "0\tdelete\tGet FREE stuff\tann@a.com\t1200\t01/02/24 13:45:10\n";
const std::string kSpammerRow = "1\tknown-spammer\thello\tjoe@spam.biz\t800\t\n";
const std::string kBrokenRow = "2\tnone\tLunch\t<<<broken\t300\tsometime soon\n";
const std::string kThreeRows = kFreeRow + kSpammerRow + kBrokenRow;

FakeServer& LogIn(FakeServer& srv, const std::string& user, const std::vector<Mail>& mails) {
    int total = 0;
    for (const Mail& m : mails)
        total += m.size;
    return kelvane::test::ScriptLogin(
        srv, user, kPassword, "+OK " + std::to_string(mails.size()) + " " + std::to_string(total));
}

// LIST n and TOP n 1, the header block followed by the empty line, one body
// line and the dot.
FakeServer& Top(FakeServer& srv, int num, const Mail& m) {
    const std::string n = std::to_string(num);
    return srv.Expect("LIST " + n)
        .Send("+OK " + n + " " + std::to_string(m.size) + "\r\n")
        .Expect("TOP " + n + " 1")
        .Send("+OK\r\n" + m.headers + "\r\nfirst body line\r\n.\r\n");
}

FakeServer& Quit(FakeServer& srv) {
    return srv.Expect("QUIT").Send("+OK bye\r\n").AwaitClientClose();
}

// The server keeps the session open after refusing the password; the client
// must leave it without QUIT, so nothing half done in it takes effect.
FakeServer& RefuseLogin(FakeServer& srv, const std::string& user) {
    return srv.Send("+OK POP3 ready\r\n")
        .Expect("USER " + user)
        .Send("+OK\r\n")
        .Expect("PASS " + kPassword)
        .Send("-ERR [AUTH] Authentication failed.\r\n")
        .AwaitClientClose();
}

// A whole header pass: log in, every message's LIST and TOP, QUIT.
FakeServer& Listing(FakeServer& srv, const std::string& user, const std::vector<Mail>& mails) {
    LogIn(srv, user, mails);
    for (std::size_t i = 0; i < mails.size(); ++i)
        Top(srv, static_cast<int>(i) + 1, mails[i]);
    return Quit(srv);
}

// A loopback port bound but not listening: a connect to it is refused at
// once, and nothing else can take the port while the test holds it.
class RefusingPort {
  public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

using Server = std::unique_ptr<FakeServer>;

// What the scripted servers made of a run.
struct Scripts {
    bool ran = true;  // every script ran to its end with nothing unexpected
    std::string report;
    std::vector<int> connections;
};

// The per-user store, the program folder with the rule set, and a log file.
struct Kelvane {
    TempDir home;
    TempDir prog;

    Kelvane() {
        // Fixed date and time formats for the Date column and the log stamps.
        ::setenv("LC_ALL", "C", 1);
        Setting("General", "Logfile", LogPath());
        // These scripts speak the deletion without copies; the copies have
        // tests of their own.
        Setting("General", "KeepDeleted", "0");
    }

    std::string LogPath() const { return home.file("activity.log"); }
    void Rules(const std::string& name, const std::string& text) const {
        WriteFile(prog.file(name), text);
    }
    std::string Rules(const std::string& name) const { return ReadFile(prog.file(name)); }
    void Blacklist() const {
        Rules("known.lst", "spam.biz\r\n");
        Rules("Kelvane.ini", "[Known]\r\nQMonitor=1\r\n");
    }
    void Mailbox(int slot, const std::string& server, const std::string& user) const {
        auto r = RunCli({"mailbox", "set", std::to_string(slot), "--server", server, "--user", user,
                         "--password-stdin"},
                        home.path(), kPassword + "\n");
        EXPECT_EQ(r.status, 0) << r.err;
    }
    void Setting(const std::string& section, const std::string& key,
                 const std::string& value) const {
        auto r = RunCli({"settings", "set", section, key, value}, home.path());
        EXPECT_EQ(r.status, 0) << r.err;
    }
    std::string Setting(const std::string& section, const std::string& key) const {
        return RunCli({"settings", "get", section, key}, home.path()).out;
    }

    // Runs the check while the servers follow their scripts. Each server is
    // shut down as soon as its script has run, so that a session nobody
    // expected is refused at once instead of waiting for a greeting.
    RunResult Check(std::vector<std::string> args, std::vector<Server*> servers = {},
                    Scripts* scripts = nullptr) const {
        args.insert(args.begin(), {"--dir", prog.path(), "check"});
        auto run = std::async(std::launch::async, [&] { return RunCli(args, home.path()); });
        Scripts seen;
        for (Server* srv : servers) {
            if (!(*srv)->Finish(std::chrono::seconds(20))) {
                seen.ran = false;
                seen.report += (*srv)->Report();
            }
            seen.connections.push_back((*srv)->Connections());
            srv->reset();
        }
        RunResult result = run.get();
        if (scripts) {
            *scripts = seen;
        } else {
            EXPECT_TRUE(seen.ran) << seen.report;
        }
        return result;
    }

    // The log with every time stamp replaced by "<time>".
    std::string Log() const {
        static const std::regex stamp("[A-Z][a-z]{2} [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}");
        return std::regex_replace(ReadFile(LogPath()), stamp, "<time>");
    }
};

std::string MailCheckLine(int count, const std::string& user, const std::string& server) {
    return "MAIL CHECK " + std::to_string(count) + " msg(s) for \"" + user + "\" on server " +
           server + " at <time>\r\n";
}

std::string DeletionBlock(const std::string& server, const std::string& user,
                          const std::string& subject, const std::string& sender,
                          const std::string& size, const std::string& date) {
    return "DELETE SPAM on <time>\r\n"
           "   Server:  " +
           server + " Mailbox: " + user + "\r\n   Subject: " + subject +
           "\r\n   Sender:  " + sender + "\r\n   Size:    " + size + "  Date: " + date + "\r\n";
}

void ExpectNoPassword(const Kelvane& k, const RunResult& r) {
    EXPECT_EQ(r.out.find(kPassword), std::string::npos);
    EXPECT_EQ(r.err.find(kPassword), std::string::npos);
    EXPECT_EQ(ReadFile(k.LogPath()).find(kPassword), std::string::npos);
}

}  // namespace

// One pass over three messages: a rule match, a blacklisted sender and a
// clean one whose From and Date cannot be read, which must neither end the
// check nor lose the row.
TEST(CliCheck, ListsMarksLogsAndSavesHitCounts) {
    Kelvane k;
    k.Rules("subj.lst", kFreeSubject);
    k.Blacklist();
    auto srv = std::make_unique<FakeServer>();
    Listing(*srv, "bob", {kFree, kSpammer, kBroken});
    const std::string address = srv->Address();
    // Without --mailbox the default mailbox is checked.
    k.Mailbox(4, address, "bob");
    EXPECT_EQ(RunCli({"mailbox", "default", "4"}, k.home.path()).status, 0);

    auto r = k.Check({}, {&srv});

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kThreeRows);
    EXPECT_EQ(r.err, "") << "progress is for terminals only";
    EXPECT_EQ(k.Log(), MailCheckLine(3, "bob", address));
    // Judged when it arrived and again at the end, but a row already marked
    // delete is not walked through the subject rules twice.
    EXPECT_NE(k.Rules("subj.lst").find(kOneHit), std::string::npos) << k.Rules("subj.lst");
    ExpectNoPassword(k, r);
}

TEST(CliCheck, ReasonsFollowEachRowWithoutCreditingHits) {
    Kelvane k;
    k.Rules("subj.lst", kFreeSubject);
    k.Blacklist();
    auto srv = std::make_unique<FakeServer>();
    Listing(*srv, "bob", {kFree, kSpammer, kBroken});
    k.Mailbox(1, srv->Address(), "bob");

    auto r = k.Check({"--reasons"}, {&srv});

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kFreeRow +
                         "Message from ann@a.com\n"
                         "Subject of   Get FREE stuff\n"
                         "\n"
                         "Delete   :  Subject Contains \"free\" \n"
                         "\n" +
                         kSpammerRow +
                         "Message from joe@spam.biz\n"
                         "Subject of   hello\n"
                         "\n"
                         "Delete   :  Domain \"spam.biz\" is on the KNOWN SPAMMER BLACKLIST (you "
                         "may edit if this is in error)\n"
                         "\n" +
                         kBrokenRow +
                         "Message from <<<broken\n"
                         "Subject of   Lunch\n"
                         "\n"
                         "Message was neither on the exception list nor on the list of matching "
                         "criteria\n"
                         "\n");
    EXPECT_NE(k.Rules("subj.lst").find(kOneHit), std::string::npos) << k.Rules("subj.lst");
}

// What the deletion tests share: rows 0 and 1 marked, a running total of
// 5, and a server that lists the three messages, then takes the login of
// the deletion's own session.
static std::unique_ptr<FakeServer> DeletionScene(Kelvane& k) {
    k.Rules("subj.lst", kFreeSubject);
    k.Blacklist();
    k.Setting("General", "Count", "5");
    auto srv = std::make_unique<FakeServer>();
    Listing(*srv, "bob", {kFree, kSpammer, kBroken});
    LogIn(*srv, "bob", {kFree, kSpammer, kBroken});
    return srv;
}

// Rows 0 and 1 are marked. The deletion is a session of its own, each DELE
// after the re-check of that message, committed by QUIT; then a third
// session lists what is left.
TEST(CliCheck, DeleteRemovesMarkedMessagesAndListsTheRest) {
    Kelvane k;
    auto srv = DeletionScene(k);
    Top(*srv, 1, kFree).Expect("DELE 1").Send("+OK deleted\r\n");
    Top(*srv, 2, kSpammer).Expect("DELE 2").Send("+OK deleted\r\n");
    Quit(*srv);
    Listing(*srv, "bob", {kBroken});
    const std::string address = srv->Address();
    k.Mailbox(5, address, "bob");

    Scripts scripts;
    auto r = k.Check({"--mailbox", "5", "--delete"}, {&srv}, &scripts);

    EXPECT_TRUE(scripts.ran) << scripts.report;
    EXPECT_EQ(scripts.connections, std::vector<int>{3});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kThreeRows + "There were 2 messages deleted\n" +
                         "0\tnone\tLunch\t<<<broken\t300\tsometime soon\n");
    EXPECT_EQ(k.Setting("General", "Count"), "7\n");
    EXPECT_EQ(k.Log(), MailCheckLine(3, "bob", address) +
                           DeletionBlock(address, "bob", "Get FREE stuff", "ann@a.com", "1200",
                                         "01/02/24 13:45:10") +
                           DeletionBlock(address, "bob", "hello", "joe@spam.biz", "800", ""));
    ExpectNoPassword(k, r);
}

TEST(CliCheck, DeleteWithNothingMarkedOpensNoSecondSession) {
    Kelvane k;
    k.Rules("subj.lst", kFreeSubject);
    k.Setting("General", "Count", "5");
    auto srv = std::make_unique<FakeServer>();
    Listing(*srv, "bob", {kSpammer, kBroken});  // no blacklist: both clean
    k.Mailbox(1, srv->Address(), "bob");

    Scripts scripts;
    auto r = k.Check({"--delete"}, {&srv}, &scripts);

    EXPECT_TRUE(scripts.ran) << scripts.report;
    EXPECT_EQ(scripts.connections, std::vector<int>{1});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string rows =
        "0\tnone\thello\tjoe@spam.biz\t800\t\n"
        "1\tnone\tLunch\t<<<broken\t300\tsometime soon\n";
    EXPECT_EQ(r.out, rows + "There were 0 messages deleted\n" + rows);
    EXPECT_EQ(k.Setting("General", "Count"), "5\n");
    EXPECT_EQ(k.Log().find("DELETE SPAM"), std::string::npos) << k.Log();
}

// A check that fails ends with the server's or the system's text, lists
// nothing, logs no check and leaves the rule files as they were, even when
// a matching message had already arrived.
TEST(CliCheck, FailedCheckReportsTheErrorAndSavesNothing) {
    enum class Fault {
        LoginRefused,
        TopRefused,
        ConnectionRefused,
        ClosedByServer,
        NulReply,
        EmptyGreeting
    };
    struct Row {
        const char* name;
        Fault fault;
        std::string err;
        std::string log;  // expected log, server address as ADDR
    } rows[] = {
        {"PASS refused", Fault::LoginRefused, "-ERR [AUTH] Authentication failed.\n", ""},
        {"TOP refused after a matching message", Fault::TopRefused, "-ERR no such message\n", ""},
        {"connection refused", Fault::ConnectionRefused, "Connection refused\n",
         "ERROR Connection refused FOR bob ON ADDR AT <time>\r\n"},
        // An error without text of its own says what happened; the log keeps it as it is.
        {"closed before a reply", Fault::ClosedByServer,
         "The server closed the connection (bob on ADDR)\n", ""},
        {"reply beginning with NUL", Fault::NulReply,
         "The server closed the connection (bob on ADDR)\n", ""},
        {"empty greeting", Fault::EmptyGreeting, "The server sent an empty reply (bob on ADDR)\n",
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Kelvane k;
        k.Rules("subj.lst", kFreeSubject);
        const std::string rulesBefore = k.Rules("subj.lst");
        RefusingPort refusing;
        std::string address = refusing.Address();
        std::vector<Server*> servers;
        auto srv = std::make_unique<FakeServer>();
        if (row.fault == Fault::LoginRefused) {
            RefuseLogin(*srv, "bob");
        } else if (row.fault == Fault::TopRefused) {
            LogIn(*srv, "bob", {kFree, kBroken});
            Top(*srv, 1, kFree).Expect("LIST 2").Send("-ERR no such message\r\n");
            srv->AwaitClientClose();
        } else if (row.fault == Fault::ClosedByServer) {
            srv->Send("+OK POP3 ready\r\n").Expect("USER bob").Send("+OK").Close();
        } else if (row.fault == Fault::NulReply) {
            srv->Send("+OK POP3 ready\r\n").Expect("USER bob");
            srv->Send(std::string("\0-ERR\r\n", 8)).AwaitClientClose();
        } else if (row.fault == Fault::EmptyGreeting) {
            srv->Send("\r\n").AwaitClientClose();
        }
        if (row.fault != Fault::ConnectionRefused) {
            address = srv->Address();
            servers.push_back(&srv);
        }
        k.Mailbox(1, address, "bob");

        auto r = k.Check({}, servers);

        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        std::string err = row.err;
        if (auto at = err.find("ADDR"); at != std::string::npos) err.replace(at, 4, address);
        EXPECT_EQ(r.err, err);
        std::string log = row.log;
        if (auto at = log.find("ADDR"); at != std::string::npos) log.replace(at, 4, address);
        EXPECT_EQ(k.Log(), log);
        EXPECT_EQ(k.Rules("subj.lst"), rulesBefore);
        ExpectNoPassword(k, r);
    }
}

// Checked before anything is dialled: the refusing port would add its own
// error if a connection were tried.
TEST(CliCheck, IncompleteAccountFailsWithoutConnecting) {
    RefusingPort refusing;
    struct Row {
        const char* name;
        std::string server, user;  // slot 2; nothing stored when both are empty
        std::string err;
    } rows[] = {
        {"slot never set", "", "", kNeedUser},
        {"user name of blanks", refusing.Address(), "   ", kNeedUser},
        {"no server", "", "bob", kNeedServer},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Kelvane k;
        if (!row.server.empty()) {
            k.Mailbox(2, row.server, row.user);
        } else if (!row.user.empty()) {
            // The mailbox command refuses this pair; the store may still hold it.
            k.Setting("Server", "Mailbox2", row.user);
            k.Setting("Server", "Server2", "");
        }
        auto r = k.Check({"--mailbox", "2"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(k.Log(), "");
    }
}

// The re-check before DELE finds another message at the number: nothing
// more is deleted, no QUIT commits what was sent, the total stays.
TEST(CliCheck, DeleteStopsWhenAMessageChanged) {
    struct Row {
        const char* name;
        bool firstChanged;  // else the second marked message changed, after DELE 1
        bool all;           // --all: slot 3 is never reached
    } rows[] = {
        {"first marked message changed", true, false},
        {"second marked message changed", false, false},
        {"a failed deletion ends the walk", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Kelvane k;
        auto srv = DeletionScene(k);
        if (row.firstChanged) {
            Top(*srv, 1, kOther);
        } else {
            Top(*srv, 1, kFree).Expect("DELE 1").Send("+OK deleted\r\n");
            Top(*srv, 2, kOther);
        }
        srv->AwaitClientClose();
        const std::string address = srv->Address();
        k.Mailbox(1, address, "bob");
        RefusingPort refusing;
        std::vector<std::string> args = {"--delete"};
        if (row.all) {
            k.Mailbox(3, refusing.Address(), "dave");
            args.push_back("--all");
        }

        auto r = k.Check(args, {&srv});

        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "IDs are different\n");
        EXPECT_EQ(r.out, (row.all ? "# mailbox 1: bob on " + address + "\n" : "") + kThreeRows);
        EXPECT_EQ(k.Setting("General", "Count"), "5\n");
        // Without QUIT the DELE 1 sent was never carried out: no block.
        std::string log = MailCheckLine(3, "bob", address);
        log += "ERROR IDs are different FOR bob ON " + address + " AT <time>\r\n";
        EXPECT_EQ(k.Log(), log);
    }
}

// Slots 1 and 3 are configured, 2 is empty and skipped. The header rule
// names mailbox 3, so the same message is marked only where slot 3 is
// checked.
TEST(CliCheck, AllChecksEachConfiguredSlotInTurn) {
    Kelvane k;
    k.Rules("header.lst",
            RuleFile(6, {"To does not contain", "dave@x.org - MailBox #3", "No", "Yes", "0"}));
    const Mail tea{
        "Message-ID: <4@y.org>\r\nFrom: carol@y.org\r\nTo: carol@y.org\r\n"
        "Subject: Tea\r\n",
        500};
    auto one = std::make_unique<FakeServer>();
    auto three = std::make_unique<FakeServer>();
    Listing(*one, "bob", {tea});
    Listing(*three, "dave", {tea});
    const std::string a1 = one->Address(), a3 = three->Address();
    k.Mailbox(1, a1, "bob");
    k.Mailbox(3, a3, "dave");

    auto r = k.Check({"--all"}, {&one, &three});

    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "# mailbox 1: bob on " + a1 + "\n0\tnone\tTea\tcarol@y.org\t500\t\n" +
                         "# mailbox 3: dave on " + a3 + "\n0\tdelete\tTea\tcarol@y.org\t500\t\n");
    EXPECT_EQ(k.Log(), MailCheckLine(1, "bob", a1) + MailCheckLine(1, "dave", a3));
}

// A failing slot gives its error and exit status 1, and the walk goes on
// with the next slot, on that slot's own server.
TEST(CliCheck, AllGoesOnAfterAFailedSlot) {
    enum class Fault { ConnectionRefused, LoginRefused, BlankUser };
    struct Row {
        const char* name;
        Fault fault;
        std::string err;
        bool header;  // "# mailbox 1" is printed: the account was complete
    } rows[] = {
        {"connection refused", Fault::ConnectionRefused, "Connection refused\n", true},
        {"PASS refused", Fault::LoginRefused, "-ERR [AUTH] Authentication failed.\n", true},
        {"user name of blanks", Fault::BlankUser, kNeedUser, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Kelvane k;
        k.Rules("subj.lst", kFreeSubject);
        RefusingPort refusing;
        std::string a1 = refusing.Address();
        std::vector<Server*> servers;
        auto one = std::make_unique<FakeServer>();
        if (row.fault == Fault::LoginRefused) {
            RefuseLogin(*one, "bob");
            a1 = one->Address();
            servers.push_back(&one);
        }
        k.Mailbox(1, a1, row.fault == Fault::BlankUser ? "   " : "bob");
        auto three = std::make_unique<FakeServer>();
        Listing(*three, "dave", {kFree});
        const std::string a3 = three->Address();
        servers.push_back(&three);
        k.Mailbox(3, a3, "dave");

        auto r = k.Check({"--all"}, servers);

        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out, (row.header ? "# mailbox 1: bob on " + a1 + "\n" : "") +
                             "# mailbox 3: dave on " + a3 + "\n" + kFreeRow);
        EXPECT_NE(k.Log().find(MailCheckLine(1, "dave", a3)), std::string::npos) << k.Log();
        EXPECT_NE(k.Rules("subj.lst").find(kOneHit), std::string::npos);
        ExpectNoPassword(k, r);
    }
}

// The first mailbox's messages are deleted but the listing after it
// fails: the deletion is reported, the error follows, and the walk still
// reaches the next mailbox.
TEST(CliCheck, AllGoesOnAfterAFailedRefill) {
    Kelvane k;
    auto one = DeletionScene(k);
    Top(*one, 1, kFree).Expect("DELE 1").Send("+OK deleted\r\n");
    Top(*one, 2, kSpammer).Expect("DELE 2").Send("+OK deleted\r\n");
    Quit(*one);
    LogIn(*one, "bob", {kBroken}).Expect("LIST 1").Send("-ERR no such message\r\n");
    one->AwaitClientClose();
    auto three = std::make_unique<FakeServer>();
    Listing(*three, "dave", {kBroken});
    const std::string a1 = one->Address(), a3 = three->Address();
    k.Mailbox(1, a1, "bob");
    k.Mailbox(3, a3, "dave");

    auto r = k.Check({"--all", "--delete"}, {&one, &three});

    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "-ERR no such message\n");
    const std::string lunch = "0\tnone\tLunch\t<<<broken\t300\tsometime soon\n";
    EXPECT_EQ(r.out, "# mailbox 1: bob on " + a1 + "\n" + kThreeRows +
                         "There were 2 messages deleted\n# mailbox 3: dave on " + a3 + "\n" +
                         lunch + "There were 0 messages deleted\n" + lunch);
    EXPECT_EQ(k.Setting("General", "Count"), "7\n");
}

TEST(CliCheck, UsageErrors) {
    Kelvane k;
    const std::vector<std::vector<std::string>> rows = {
        {"--all", "--mailbox", "1"}, {"--mailbox", "0"}, {"--mailbox", "13"},
        {"--mailbox", "x"},          {"--remove"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        auto r = k.Check(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(k.Log(), "");
    }
}

// Ctrl-C ends the connection at once and without QUIT (the fake server
// fails on one), so a deletion pass cut short takes no effect on the server.
TEST(CliCheck, InterruptCancelsWithoutQuit) {
    struct Row {
        const char* name;
        bool remove;
    } rows[] = {{"during the check", false}, {"during the deletion, after a DELE", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Kelvane k;
        k.Rules("subj.lst", kFreeSubject);
        k.Setting("General", "Count", "5");
        FakeServer srv;
        if (row.remove) {
            Listing(srv, "bob", {kFree, kFree});
            LogIn(srv, "bob", {kFree, kFree});
            Top(srv, 1, kFree).Expect("DELE 1").Send("+OK deleted\r\n");
        } else {
            LogIn(srv, "bob", {kFree, kFree});
            Top(srv, 1, kFree);
        }
        srv.Expect("LIST 2").AwaitClientClose();
        k.Mailbox(1, srv.Address(), "bob");

        std::vector<std::string> args = {"--dir", k.prog.path(), "check"};
        if (row.remove) args.push_back("--delete");
        std::atomic<int> child{0};
        auto run = std::async(std::launch::async, [&] {
            return RunCli(args, k.home.path(), {}, [&](int pid) { child = pid; });
        });
        // Interrupt while the client waits for the reply to the last LIST.
        const auto waitingForList2 = [&] {
            const std::string got = srv.Received();
            const std::size_t first = got.find("LIST 2\r\n");
            return row.remove ? got.find("LIST 2\r\n", first + 1) != std::string::npos &&
                                    first != std::string::npos
                              : first != std::string::npos;
        };
        for (int i = 0; i < 500 && !waitingForList2(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(waitingForList2()) << srv.Received();
        ::kill(child, SIGINT);
        const RunResult r = run.get();

        EXPECT_TRUE(srv.Finish()) << srv.Report();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Operation has been canceled\n");
        EXPECT_EQ(r.out.find("There were"), std::string::npos) << r.out;
        EXPECT_EQ(k.Setting("General", "Count"), "5\n");
        const std::string log = k.Log();
        EXPECT_NE(log.find("OPERATION CANCELED FOR bob ON " + srv.Address() + " AT <time>\r\n"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("ERROR Operation has been canceled FOR bob ON "), std::string::npos)
            << log;
        EXPECT_EQ(log.find("MAIL CHECK"), row.remove ? 0u : std::string::npos) << log;
    }
}

// A server that offers pipelining gets it unless the user turned it off, by
// the setting or the flag. The server insists on one command at a time, so
// only a client that pipelines upsets it; the rows are the same either way.
TEST(CliCheck, PipeliningUnlessTurnedOff) {
    const struct {
        std::vector<std::string> args;
        const char* setting;
        bool pipelined;
    } cases[] = {
        {{}, nullptr, true},
        {{"--no-pipelining"}, nullptr, false},
        {{}, "0", false},
    };
    for (const auto& c : cases) {
        Kelvane k;
        k.Rules("subj.lst", kFreeSubject);
        k.Blacklist();
        if (c.setting) k.Setting("General", "Pipelining", c.setting);
        auto srv = std::make_unique<FakeServer>();
        srv->SetCapaAnswer("+OK\r\nPIPELINING\r\n.\r\n");
        srv->SetLockstep(true);
        Listing(*srv, "bob", {kFree, kSpammer, kBroken});
        k.Mailbox(1, srv->Address(), "bob");
        std::vector<std::string> args{"--mailbox", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Scripts scripts;

        auto r = k.Check(args, {&srv}, &scripts);

        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, kThreeRows);
        EXPECT_EQ(scripts.ran, !c.pipelined) << scripts.report;
    }
}
