#include "mail/mspop3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::FakeServer;
using Events = std::vector<std::string>;

using test::kFastClock;

const std::string kUser = "bob";
const std::string kPassword = "s3cret-pw";

std::string Headers(const std::string& id, const std::string& subject) {
    return "Message-ID: <" + id + ">\r\nFrom: a@example.com\r\nSubject: " + subject + "\r\n";
}

// A TOP n 1 answer: the header block, the empty line, one body line, the dot.
std::string TopBlock(const std::string& headers) {
    return "+OK\r\n" + headers + "\r\nfirst body line\r\n.\r\n";
}

FakeServer& Greet(FakeServer& srv, const std::string& stat) {
    return test::ScriptLogin(srv, kUser, kPassword, stat);
}

FakeServer& Info(FakeServer& srv, int num, int size, const std::string& headers) {
    const std::string n = std::to_string(num);
    return srv.Expect("LIST " + n)
        .Send("+OK " + n + " " + std::to_string(size) + "\r\n")
        .Expect("TOP " + n + " 1")
        .Send(TopBlock(headers));
}

FakeServer& Quit(FakeServer& srv) {
    return srv.Expect("QUIT").Send("+OK bye\r\n").AwaitClientClose();
}

class PopTest : public ::testing::Test {
  protected:
    PopTest() { Wire(pop, events); }

    static void Wire(TmsRemotePOP& p, Events& log) {
        p.SetClock(&kFastClock);
        p.SetUserName(kUser);
        p.SetPassword(kPassword);
        p.OnOpen = [&log](TagSocket&) { log.push_back("Open"); };
        p.OnClosing = [&log](TagSocket&) { log.push_back("Closing"); };
        p.OnClosed = [&log](TagSocket&) { log.push_back("Closed"); };
        p.OnError = [&log](TagSocket&, const std::string& m) { log.push_back("Error:" + m); };
        p.OnUpdatingInfo = [&log](TmsRemotePOP&) { log.push_back("UpdatingInfo"); };
        p.OnInfoUpdated = [&log](TmsRemotePOP&) { log.push_back("InfoUpdated"); };
        p.OnTransferringData = [&log](TmsRemotePOP&) { log.push_back("TransferringData"); };
        p.OnDataTransfered = [&log](TmsRemotePOP&) { log.push_back("DataTransfered"); };
        auto num = [&log](const char* what) {
            return [&log, what](auto&, int n) { log.push_back(what + std::to_string(n)); };
        };
        p.OnNextInfoUpdated = num("NextInfo");
        p.OnRetrieving = num("Retrieving");
        p.OnRetrieved = num("Retrieved");
        p.OnDeleting = num("Deleting");
    }

    // Records as an earlier header update left them.
    void Remember(const std::vector<std::string>& headerBlocks) {
        pop.Info().Clear();
        for (const auto& h : headerBlocks) {
            auto item = std::make_unique<TmsRemoteInfoItem>();
            item->Headers.LoadFromText(h);
            pop.Info().Add(std::move(item));
        }
    }

    TmsRemotePOP pop;
    Events events;
};

// ---------------------------------------------------------------- happy path

TEST_F(PopTest, HeaderUpdateWireAndEventOrder) {
    FakeServer srv;
    Greet(srv, "+OK 2 320");
    Info(srv, 1, 120, Headers("one@x", "first"));
    Info(srv, 2, 200, Headers("two@x", "second"));
    Quit(srv);
    pop.SetServer(srv.Address());

    pop.UpdateInfo();

    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(events, (Events{"Open", "UpdatingInfo", "NextInfo0", "NextInfo1", "Closing", "Closed",
                              "InfoUpdated"}));
    EXPECT_EQ(pop.MessageCount(), 2);
    EXPECT_EQ(pop.MailboxSize(), 320);
    EXPECT_FALSE(pop.Connected());
    ASSERT_EQ(pop.Info().Count(), 2u);
    EXPECT_EQ(pop.Info()[0].Size, 120);
    EXPECT_EQ(pop.Info()[1].Size, 200);
    // The empty line, the body line and the dot are cut off.
    EXPECT_EQ(pop.Info()[1].Headers.Lines(),
              (std::vector<std::string>{"Message-ID: <two@x>", "From: a@example.com",
                                        "Subject: second"}));
}

// "+OK 0 0": no LIST, the old records go, and QUIT unless kept open.
TEST_F(PopTest, EmptyMailbox) {
    for (const bool keepOpen : {false, true}) {
        events.clear();
        Remember({Headers("old@x", "stale")});
        FakeServer srv;
        Greet(srv, "+OK 0 0");
        Quit(srv);
        pop.SetServer(srv.Address());
        pop.SetKeepOpen(keepOpen);

        pop.UpdateInfo();
        EXPECT_TRUE(pop.Info().Empty());
        EXPECT_EQ(pop.Connected(), keepOpen);
        const Events expected =
            keepOpen ? Events{"Open", "UpdatingInfo", "InfoUpdated"}
                     : Events{"Open", "UpdatingInfo", "Closing", "Closed", "InfoUpdated"};
        EXPECT_EQ(events, expected);
        pop.Disconnect();
        EXPECT_TRUE(srv.Finish()) << srv.Report();
    }
}

// ---------------------------------------------------------------- mark passes

// Two sessions on one server: the update, then the pass for messages 1 and 3.
// A DELE 2 or a missing QUIT breaks the script.
TEST_F(PopTest, DeletionPassInASecondSession) {
    const std::string h1 = Headers("one@x", "a"), h2 = Headers("two@x", "b"),
                      h3 = Headers("three@x", "c");
    FakeServer srv;
    Greet(srv, "+OK 3 300");
    Info(srv, 1, 100, h1);
    Info(srv, 2, 100, h2);
    Info(srv, 3, 100, h3);
    Quit(srv);
    Greet(srv, "+OK 3 300");
    Info(srv, 1, 100, h1);
    srv.Expect("DELE 1").Send("+OK deleted\r\n");
    Info(srv, 3, 100, h3);
    srv.Expect("DELE 3").Send("+OK deleted\r\n");
    Quit(srv);
    pop.SetServer(srv.Address());

    pop.UpdateInfo();
    pop.MarkForDelete(0);
    pop.MarkForDelete(2);
    events.clear();
    pop.ProcessMarks();

    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(srv.Connections(), 2);
    EXPECT_EQ(events, (Events{"Open", "TransferringData", "Deleting0", "Deleting2",
                              "DataTransfered", "Closing", "Closed"}));
    EXPECT_TRUE(pop.Info()[0].DeleteMark) << "marks are the caller's to clear";
    pop.ClearMarks(0);
    EXPECT_FALSE(pop.Info()[0].DeleteMark);
}

// A refused DELE is no deletion: the pass fails with the reply, and the
// session ends without QUIT so that the DELE before it is undone as well.
TEST_F(PopTest, RefusedDeleteEndsThePassWithoutQuit) {
    const std::string h1 = Headers("one@x", "a"), h2 = Headers("two@x", "b");
    Remember({h1, h2});
    pop.MarkForDelete(0);
    pop.MarkForDelete(1);
    FakeServer srv;
    Greet(srv, "+OK 2 200");
    Info(srv, 1, 100, h1);
    srv.Expect("DELE 1").Send("+OK\r\n");
    Info(srv, 2, 100, h2);
    srv.Expect("DELE 2").Send("-ERR message 2 is locked\r\n").AwaitClientClose();
    pop.SetServer(srv.Address());

    try {
        pop.ProcessMarks();
        ADD_FAILURE() << "pass went on";
    } catch (const ServerError& e) {
        EXPECT_STREQ(e.what(), "-ERR message 2 is locked");
    }
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(events,
              (Events{"Open", "TransferringData", "Deleting0", "Deleting1", "Closing", "Closed"}));
}

TEST_F(PopTest, EmptyListMakesNoConnection) {
    FakeServer srv;
    pop.SetServer(srv.Address());
    pop.ProcessMarks();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(srv.Connections(), 0);
    EXPECT_TRUE(events.empty());
}

// The message now at number 1 is checked against the record kept from the
// update; only a match may be deleted.
TEST_F(PopTest, VerifySameGuardsTheDelete) {
    const std::string base = Headers("one@x", "hello");
    const struct {
        const char* name;
        std::string kept;
        std::string now;
        bool deletes;
    } cases[] = {
        {"unchanged", base, base, true},
        {"another message took the number", base, Headers("two@x", "other"), false},
        {"same id, other subject", base, Headers("one@x", "changed"), false},
        {"server appended a header", base, base + "Status: RO\r\n", true},
        {"no ids, same lines", "From: a\r\nSubject: s\r\n", "From: a\r\nSubject: s\r\n", true},
        {"no ids, other sender", "From: a\r\nSubject: s\r\n", "From: b\r\nSubject: s\r\n", false},
        // The ids sit past the lines both blocks have: the differing ids
        // alone must keep the message.
        {"other id below the shared lines", "From: a\r\nSubject: s\r\nMessage-ID: <1@x>\r\n",
         "From: a\r\nSubject: s\r\n\tfolded\r\nMessage-ID: <2@x>\r\n", false},
        {"now without header lines", base, "", false},
        {"listed without header lines", "", base, false},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        auto item = std::make_unique<TmsRemoteInfoItem>();
        item->Headers.LoadFromText(c.kept);
        p.Info().Add(std::move(item));
        p.MarkForDelete(0);
        FakeServer srv;
        srv.SetStepLimit(std::chrono::milliseconds(1000));
        Greet(srv, "+OK 1 100");
        Info(srv, 1, 100, c.now);
        if (c.deletes) {
            srv.Expect("DELE 1").Send("+OK\r\n");
            Quit(srv);
        }
        p.SetServer(srv.Address());
        try {
            p.ProcessMarks();
            EXPECT_TRUE(c.deletes) << c.name << ": deleted a foreign message";
        } catch (const SocketError& e) {
            EXPECT_FALSE(c.deletes) << c.name << ": " << e.what();
            EXPECT_STREQ(e.what(), "IDs are different") << c.name;
            EXPECT_EQ(e.Code(), kErrIdsDifferent) << c.name;
            EXPECT_EQ(log.back(), "Error:IDs are different") << c.name;
            p.Close();
        }
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

// Another mail program removed message 1 after the update: every later
// message moved up one number. The pass stops at the first foreign message.
TEST_F(PopTest, ShiftedMailboxStopsThePassAndDeletesNothing) {
    const std::string h1 = Headers("one@x", "a"), h2 = Headers("two@x", "b"),
                      h3 = Headers("three@x", "c");
    Remember({h1, h2, h3});
    pop.MarkForRetrieve(1);
    pop.MarkForDelete(1);
    pop.MarkForDelete(2);
    pop.OnUserMessageSave = [](TmsRemotePOP&, int, std::string&) {
        ADD_FAILURE() << "retrieved a foreign message";
    };
    FakeServer srv;
    srv.SetStepLimit(std::chrono::milliseconds(1000));
    Greet(srv, "+OK 2 200");
    Info(srv, 2, 100, h3);
    srv.AwaitClientClose();
    pop.SetServer(srv.Address());

    try {
        pop.ProcessMarks();
        ADD_FAILURE() << "pass went on";
    } catch (const SocketError& e) {
        EXPECT_STREQ(e.what(), "IDs are different");
    }
    EXPECT_EQ(events, (Events{"Open", "TransferringData", "Error:IDs are different"}));
    pop.Close();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(PopTest, MarkedBothWaysIsSavedThenDeleted) {
    test::TempDir dir;
    const std::string h = Headers("one@x", "keep a copy");
    const std::string message = h + "\r\nbody\r\n..stuffed\r\n.\r\n";
    Remember({Headers("zero@x", "skip"), h});
    pop.MarkForRetrieve(1);
    pop.MarkForDelete(1);
    pop.SetMessageDirectory(dir.path());
    EXPECT_EQ(pop.MessageDirectory(), dir.path() + "/");
    // Header reads report -1 (size unknown); only the RETR block counts here.
    std::vector<int> progress;
    bool retrieving = false;
    pop.OnProgress = [&](TagSocket&, int perc, std::int64_t) {
        if (retrieving) progress.push_back(perc);
    };
    pop.OnRetrieving = [&](TmsCustomPOP&, int n) {
        events.push_back("Retrieving" + std::to_string(n));
        retrieving = true;
    };
    pop.OnRetrieved = [&](TmsCustomPOP&, int n) {
        events.push_back("Retrieved" + std::to_string(n));
        retrieving = false;
    };
    FakeServer srv;
    Greet(srv, "+OK 2 200");
    Info(srv, 2, static_cast<int>(message.size()), h);
    srv.Expect("LIST 2").Send("+OK 2 " + std::to_string(message.size()) + "\r\n");
    srv.Expect("RETR 2").Send("+OK\r\n" + message);
    Info(srv, 2, static_cast<int>(message.size()), h);
    srv.Expect("DELE 2").Send("+OK\r\n");
    Quit(srv);
    pop.SetServer(srv.Address());

    pop.ProcessMarks();

    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(events, (Events{"Open", "TransferringData", "Retrieving1", "Retrieved1", "Deleting1",
                              "DataTransfered", "Closing", "Closed"}));
    EXPECT_EQ(test::ReadFile(dir.file("msg_1.eml")), message) << "saved as received";
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0) << "a known size gives percentages";
    for (const int perc : progress)
        EXPECT_TRUE(perc >= 0 && perc <= 100) << perc;
}

TEST_F(PopTest, UserHandlerTakesTheMessageInsteadOfAFile) {
    const std::string h = Headers("one@x", "s");
    Remember({h});
    pop.MarkForRetrieve(0);
    std::vector<std::pair<int, std::string>> saved;
    pop.OnUserMessageSave = [&](TmsRemotePOP&, int n, std::string& data) {
        saved.emplace_back(n, data);
    };
    FakeServer srv;
    Greet(srv, "+OK 1 10");
    Info(srv, 1, 10, h);
    srv.Expect("LIST 1").Send("+OK 1 10\r\n");
    srv.Expect("RETR 1").Send("+OK\r\nshort\r\n.\r\n");
    Quit(srv);
    pop.SetServer(srv.Address());

    pop.ProcessMarks();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].first, 0);
    EXPECT_EQ(saved[0].second, "short\r\n.\r\n");
}

// ---------------------------------------------------------------- reply parsing

TEST_F(PopTest, StatReplies) {
    const struct {
        const char* stat;
        int count;
        std::int64_t size;
        const char* error;  // null when the login succeeds
    } cases[] = {
        {"+OK 3 450", 3, 450, nullptr},
        {"+OK 7 12 octets follow", 7, 12, nullptr},
        {"+OK 2 3000000000", 2, 3000000000, nullptr},
        {"+OK", -1, -1, nullptr},
        {"+OK mailbox", -1, -1, nullptr},
        {"+OK x 1", -1, -1, "'x' is not a valid integer value"},
        {"+OK 2 big", 2, -1, "'big' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        FakeServer srv;
        Greet(srv, c.stat).Close();
        p.SetServer(srv.Address());
        try {
            p.Open();
            p.Login();
            EXPECT_EQ(c.error, nullptr) << c.stat;
        } catch (const KelvaneError& e) {
            ASSERT_NE(c.error, nullptr) << c.stat << ": " << e.what();
            EXPECT_STREQ(e.what(), c.error);
        }
        EXPECT_EQ(p.MessageCount(), c.count) << c.stat;
        EXPECT_EQ(p.MailboxSize(), c.size) << c.stat;
        EXPECT_TRUE(srv.Finish()) << c.stat << ": " << srv.Report();
    }
}

TEST_F(PopTest, InfoRecordEdgeCases) {
    const struct {
        const char* name;
        std::string list;
        std::string top;
        std::int64_t size;
        std::vector<std::string> lines;
    } cases[] = {
        {"size after the number", "+OK 1 512", TopBlock("A: 1\r\n"), 512, {"A: 1"}},
        {"past 32 bits", "+OK 1 3000000000", TopBlock("A: 1\r\n"), 3000000000, {"A: 1"}},
        {"past 63 bits", "+OK 1 99999999999999999999", TopBlock("A: 1\r\n"), -1, {"A: 1"}},
        {"no size", "+OK 1", TopBlock("A: 1\r\n"), -1, {"A: 1"}},
        {"size not a number", "+OK 1 lots", TopBlock("A: 1\r\n"), -1, {"A: 1"}},
        {"negative size", "+OK 1 -5", TopBlock("A: 1\r\n"), -1, {"A: 1"}},
        {"no body, no empty line", "+OK 1 9", "+OK\r\nA: 1\r\n.\r\n", 9, {"A: 1", "."}},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        FakeServer srv;
        Greet(srv, "+OK 1 9");
        srv.Expect("LIST 1").Send(c.list + "\r\n").Expect("TOP 1 1").Send(c.top);
        Quit(srv);
        p.SetServer(srv.Address());
        p.UpdateInfo();
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
        ASSERT_EQ(p.Info().Count(), 1u) << c.name;
        EXPECT_EQ(p.Info()[0].Size, c.size) << c.name;
        EXPECT_EQ(p.Info()[0].Headers.Lines(), c.lines) << c.name;
    }
}

// ---------------------------------------------------------------- failures

// A refusal at any step raises the reply line as it came (empty when the
// line was cut off), is not reported to OnError, and leaves the connection
// open without a QUIT.
TEST_F(PopTest, RefusalsRaiseTheReplyLine) {
    // The update of a one-message box, a command and its positive answer a row.
    const std::vector<std::pair<std::string, std::string>> script = {
        {"", "+OK ready\r\n"},    {"USER " + kUser, "+OK\r\n"}, {"PASS " + kPassword, "+OK\r\n"},
        {"STAT", "+OK 1 10\r\n"}, {"LIST 1", "+OK 1 10\r\n"},   {"TOP 1 1", TopBlock("A: 1\r\n")},
        {"QUIT", "+OK\r\n"},
    };
    const struct {
        std::size_t step;
        std::string reply;
        std::string message;
    } cases[] = {
        {0, "-ERR busy\r\n", "-ERR busy"},
        {1, "-ERR who?\r\n", "-ERR who?"},
        {2, "-ERR [AUTH] invalid login\r\n", "-ERR [AUTH] invalid login"},
        {3, "-ERR locked\r\n", "-ERR locked"},
        {4, "-ERR no such message\r\n", "-ERR no such message"},
        {5, "-ERR no TOP\r\n", "-ERR no TOP"},
        {6, "-ERR cannot commit\r\n", "-ERR cannot commit"},
        {1, "+OK hal", ""},  // the server closes inside the line
        {3, "* 1 10\r\n", "* 1 10"},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        FakeServer srv;
        srv.SetStepLimit(std::chrono::milliseconds(1000));
        for (std::size_t i = 0; i <= c.step; ++i) {
            if (!script[i].first.empty()) srv.Expect(script[i].first);
            srv.Send(i == c.step ? c.reply : script[i].second);
        }
        if (c.message.empty()) {
            srv.Close();
        } else {
            srv.AwaitClientClose();
        }
        p.SetServer(srv.Address());
        try {
            p.UpdateInfo();
            ADD_FAILURE() << c.reply << ": no error";
        } catch (const ServerError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
        EXPECT_TRUE(p.Connected()) << c.reply;
        Events expected{"Open"};
        if (c.step >= 4) expected.push_back("UpdatingInfo");
        if (c.step >= 6) expected.push_back("NextInfo0");
        EXPECT_EQ(log, expected) << c.reply << ": OnError must stay quiet";
        p.Close();
        EXPECT_TRUE(srv.Finish()) << c.reply << ": " << srv.Report();
    }
}

TEST_F(PopTest, SessionLeftOpenIsReusedWithoutASecondLogin) {
    FakeServer srv;
    Greet(srv, "+OK 1 10");
    srv.Expect("LIST 1").Send("-ERR busy\r\n");
    Info(srv, 1, 10, Headers("one@x", "s"));
    Quit(srv);
    pop.SetServer(srv.Address());

    EXPECT_THROW(pop.UpdateInfo(), ServerError);
    pop.UpdateInfo();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(srv.Connections(), 1);
    EXPECT_EQ(pop.Info().Count(), 1u);
}

// Transport failures close the connection; records finished before stay,
// the one being read is dropped, and no QUIT follows.
TEST_F(PopTest, TimeOutAndCancelMidUpdate) {
    for (const bool cancel : {false, true}) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        bool armed = false;
        p.OnNextInfoUpdated = [&](TmsRemotePOP&, int n) {
            log.push_back("NextInfo" + std::to_string(n));
            armed = cancel;
        };
        p.SetEventPump([&] {
            if (armed && !p.Canceling()) p.Cancel();
        });
        FakeServer srv;
        Greet(srv, "+OK 2 20");
        Info(srv, 1, 10, Headers("one@x", "s"));
        if (!cancel) srv.Expect("LIST 2");
        srv.AwaitClientClose();
        p.SetServer(srv.Address());
        const std::string text = cancel ? "Operation has been canceled" : "Operation timed out";
        try {
            p.UpdateInfo();
            ADD_FAILURE() << text << ": update finished";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.what(), text);
        }
        EXPECT_FALSE(p.Connected()) << text;
        EXPECT_EQ(p.Info().Count(), 1u) << text;
        EXPECT_NE(std::find(log.begin(), log.end(), "Error:" + text), log.end()) << text;
        p.Disconnect();
        EXPECT_TRUE(srv.Finish()) << text << ": " << srv.Report();
    }
}

// A line break in the login data would smuggle in commands of its own.
TEST_F(PopTest, LineBreaksInLoginDataAreNeverSent) {
    const struct {
        std::string user;
        std::string password;
    } cases[] = {
        {"bob\r\nDELE 1", kPassword}, {"bob\nDELE 1", kPassword},
        {"bob\rDELE 1", kPassword},   {std::string("bob\0DELE 1", 10), kPassword},
        {kUser, "pw\r\nDELE 1"},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        p.SetUserName(c.user);
        p.SetPassword(c.password);
        FakeServer srv;
        srv.Send("+OK ready\r\n").Expect("CAPA").Send("-ERR\r\n");
        if (c.user == kUser) srv.Expect("USER " + kUser).Send("+OK\r\n");
        srv.AwaitClientClose();
        p.SetServer(srv.Address());
        try {
            p.UpdateInfo();
            ADD_FAILURE() << "sent";
        } catch (const SocketError& e) {
            EXPECT_EQ(e.Code(), kErrCommandBreak);
            EXPECT_EQ(e.what(), kTextCommandBreak);
        }
        p.Close();
        EXPECT_TRUE(srv.Finish()) << srv.Report();
        EXPECT_EQ(srv.Received().find("DELE"), std::string::npos);
    }
}

// A header block or message beyond its limit ends the operation before it
// takes all memory; the connection is closed, as the rest would be misread.
TEST_F(PopTest, OversizedBlocksEndTheOperation) {
    const std::string small = "A: 1\r\n\r\n.\r\n";  // 13 bytes
    const std::string big = "A: " + std::string(5000, 'x') + "\r\n\r\n.\r\n";
    const struct {
        const char* name;
        std::string top;
        std::string retr;  // empty: only the header pass
        bool fails;
    } cases[] = {
        {"header block at the limit", small, "", false},
        {"header block past the limit", big, "", true},
        {"message past the limit", small, big, true},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        p.SetBlockLimits(small.size(), 100);
        p.OnUserMessageSave = [](TmsRemotePOP&, int, std::string&) {};
        FakeServer srv;
        Greet(srv, "+OK 1 10");
        srv.Expect("LIST 1").Send("+OK 1 10\r\n").Expect("TOP 1 1").Send("+OK\r\n" + c.top);
        if (!c.retr.empty()) {
            srv.Expect("LIST 1").Send("+OK 1 10\r\n").Expect("TOP 1 1").Send("+OK\r\n" + c.top);
            srv.Expect("LIST 1").Send("+OK 1 10\r\n");
            srv.Expect("RETR 1").Send("+OK\r\n" + c.retr);
        }
        if (c.fails) {
            srv.AwaitClientClose();
        } else {
            Quit(srv);
        }
        p.SetServer(srv.Address());
        p.SetKeepOpen(true);
        try {
            p.UpdateInfo();
            if (!c.retr.empty()) {
                p.MarkForRetrieve(0);
                p.ProcessMarks();
            } else {
                p.Disconnect();
            }
            EXPECT_FALSE(c.fails) << c.name;
        } catch (const SocketError& e) {
            EXPECT_TRUE(c.fails) << c.name << ": " << e.what();
            EXPECT_EQ(e.Code(), kErrReplyTooLarge) << c.name;
            EXPECT_EQ(e.what(), kTextReplyTooLarge) << c.name;
            EXPECT_FALSE(p.Connected()) << c.name;
        }
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

TEST_F(PopTest, MissingLoginDataFailsBeforeAnyConnection) {
    const struct {
        std::string user;
        std::string password;
        int id;
        const char* text;
    } cases[] = {
        {"", "pw", kErrUserNameRequired, "UserName property is required"},
        {"", "", kErrUserNameRequired, "UserName property is required"},
        {"bob", "", kErrPasswordRequired, "Password property is required"},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        p.SetUserName(c.user);
        p.SetPassword(c.password);
        FakeServer srv;
        p.SetServer(srv.Address());
        try {
            p.UpdateInfo();
            ADD_FAILURE() << c.text;
        } catch (const SocketError& e) {
            EXPECT_EQ(e.Code(), c.id);
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(log, (Events{std::string("Error:") + c.text}));
        EXPECT_TRUE(srv.Finish()) << srv.Report();
        EXPECT_EQ(srv.Connections(), 0);
    }
}

// After a refused connect, closing the window must not try to say QUIT.
TEST_F(PopTest, DisconnectAfterARefusedConnectOnlyCloses) {
    std::uint16_t port = 0;
    {
        FakeServer probe;
        port = probe.Port();
        probe.Finish(std::chrono::milliseconds(0));
    }
    pop.SetServer("127.0.0.1:" + std::to_string(port));
    EXPECT_THROW(pop.UpdateInfo(), SocketError);
    EXPECT_NO_THROW(pop.Disconnect());
    EXPECT_FALSE(pop.Connected());
}

// ---------------------------------------------------------------- pipelining

// The expected error "The replies of SERVER are out of step", for the
// server of the row.
constexpr const char* kOutOfStep = "out of step";

const std::string kCapaPipelining = "+OK\r\nTOP\r\nUSER\r\nPIPELINING\r\n.\r\n";
const std::string kCapaPlain = "+OK\r\nTOP\r\nUSER\r\n.\r\n";

FakeServer& GreetWithCapa(FakeServer& srv, const std::string& capa, int count) {
    return srv.Send("+OK POP3 ready\r\n")
        .Expect("CAPA")
        .Send(capa)
        .Expect("USER " + kUser)
        .Send("+OK\r\n")
        .Expect("PASS " + kPassword)
        .Send("+OK logged in\r\n")
        .Expect("STAT")
        .Send("+OK " + std::to_string(count) + " 999\r\n");
}

// With PIPELINING the login goes out in one flight; a refused PASS still
// ends it with the server's words, and the STAT reply owed is taken, so the
// QUIT that follows gets its own reply.
TEST_F(PopTest, PipelinedLogin) {
    const struct {
        const char* passReply;
        const char* error;  // null: logged in
    } cases[] = {
        {"+OK logged in", nullptr},
        {"-ERR [AUTH] Authentication failed.", "-ERR [AUTH] Authentication failed."},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        FakeServer srv;
        srv.Send("+OK POP3 ready\r\n")
            .Expect("CAPA")
            .Send(kCapaPipelining)
            // All three are in before the first reply: only a client that
            // sends ahead gets past this.
            .Expect("USER " + kUser)
            .Expect("PASS " + kPassword)
            .Expect("STAT")
            .Send(std::string("+OK\r\n") + c.passReply + "\r\n" +
                  (c.error ? "-ERR not logged in\r\n" : "+OK 0 0\r\n"));
        Quit(srv);
        p.SetServer(srv.Address());
        p.SetUserName(kUser);
        p.SetPassword(kPassword);
        p.SetClock(&kFastClock);
        try {
            p.UpdateInfo();
            EXPECT_EQ(c.error, nullptr);
        } catch (const ServerError& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_STREQ(e.what(), c.error);
            p.Disconnect();
        }
        EXPECT_TRUE(srv.Finish()) << srv.Report();
    }
}

// Whatever the server offers and however its replies are cut up, the header
// pass gives the records and events of the strict exchange, and fails where
// it fails. The waits sleep as in a window, and none stalls.
TEST_F(PopTest, PipelinedHeaderPass) {
    constexpr int kCount = 4;
    auto headers = [](int n) { return Headers(std::to_string(n) + "@x", "s" + std::to_string(n)); };
    auto replies = [&](int n, int failTop) {
        return std::pair{"+OK " + std::to_string(n) + " " + std::to_string(100 * n) + "\r\n",
                         n == failTop ? std::string("-ERR no TOP\r\n") : TopBlock(headers(n))};
    };
    // The faults drop or repeat a reply of message 2 in a batch of replies.
    enum class Script { Interleaved, AllAtOnce, CancelAfterFirst, NoList2, NoTop2, TwoList2 };
    const struct {
        const char* name;
        std::string capa;
        bool pipelined;
        Script script;
        std::size_t piece;  // bytes per send, 0: each reply whole
        int failTop;        // message whose TOP is refused, 0: none
        const char* error;  // null: the pass completes
        std::size_t records;
    } cases[] = {
        {"CAPA refused", "-ERR what?\r\n", false, Script::Interleaved, 0, 0, nullptr, 4},
        {"no PIPELINING", kCapaPlain, false, Script::Interleaved, 0, 0, nullptr, 4},
        {"replies a byte at a time", kCapaPipelining, true, Script::Interleaved, 1, 0, nullptr, 4},
        {"all replies in one packet", kCapaPipelining, true, Script::AllAtOnce, 0, 0, nullptr, 4},
        {"TOP 2 refused, later in flight", kCapaPipelining, true, Script::AllAtOnce, 0, 2,
         "-ERR no TOP", 1},
        {"TOP 2 refused, strict", kCapaPlain, false, Script::Interleaved, 0, 2, "-ERR no TOP", 1},
        {"Cancel with commands in flight", kCapaPipelining, true, Script::CancelAfterFirst, 0, 0,
         "Operation has been canceled", 1},
        // Never a shifted list, never a header line as the error: the pass
        // ends at the reply that does not fit, keeping the records before it.
        {"LIST 2 reply missing", kCapaPipelining, true, Script::NoList2, 0, 0, kOutOfStep, 1},
        {"TOP 2 reply missing", kCapaPipelining, true, Script::NoTop2, 0, 0, kOutOfStep, 1},
        {"LIST 2 reply twice", kCapaPipelining, true, Script::TwoList2, 0, 0, kOutOfStep, 1},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        bool cancel = false;
        p.SetEventPump([&] {
            if (cancel && !p.Canceling()) p.Cancel();
        });
        auto waiter = std::make_unique<test::SleepCounter>();
        const test::SleepCounter& sleeps = *waiter;
        p.SetWaiter(std::move(waiter));
        if (c.script == Script::CancelAfterFirst)
            p.OnNextInfoUpdated = [&](TmsRemotePOP&, int n) {
                log.push_back("NextInfo" + std::to_string(n));
                cancel = true;
            };
        FakeServer srv;
        srv.SetLockstep(!c.pipelined);
        GreetWithCapa(srv, c.capa, kCount);
        std::string batch, later;  // later: the replies after a refusal
        for (int n = 1; n <= kCount; ++n) {
            const auto [list, top] = replies(n, c.failTop);
            const std::string num = std::to_string(n);
            if (c.script == Script::Interleaved) {
                if (n > c.failTop && c.failTop > 0 && !c.pipelined) break;
                srv.Expect("LIST " + num).SendSlowly(list, c.piece, std::chrono::milliseconds(0));
                srv.Expect("TOP " + num + " 1")
                    .SendSlowly(top, c.piece, std::chrono::milliseconds(0));
            } else {
                // Every command is in before the first reply: only a client
                // that sends ahead gets past this.
                srv.Expect("LIST " + num).Expect("TOP " + num + " 1");
                const bool faulty = n == 2 && c.script != Script::AllAtOnce;
                if (c.script != Script::CancelAfterFirst || n == 1)
                    (c.failTop && n > c.failTop ? later : batch) +=
                        (faulty && c.script == Script::NoList2 ? "" : list) +
                        (faulty && c.script == Script::TwoList2 ? list : "") +
                        (faulty && c.script == Script::NoTop2 ? "" : top);
            }
        }
        srv.Send(batch);
        // Coming after the refusal has been read, they must still be taken.
        if (!later.empty()) srv.Silence(std::chrono::milliseconds(50)).Send(later);
        // A refusal leaves the session usable, as in the strict pass: the
        // QUIT that ends it must get its own reply, not one still in flight.
        // Out of step, the session cannot go on: it ends without QUIT.
        const bool outOfStep = c.error == kOutOfStep;
        const bool closes = c.script == Script::CancelAfterFirst || outOfStep;
        if (closes) {
            srv.AwaitClientClose();
        } else {
            Quit(srv);
        }
        p.SetServer(srv.Address());
        const std::string error = outOfStep ? OutOfStepText(srv.Address()) : c.error ? c.error : "";
        try {
            p.UpdateInfo();
            EXPECT_EQ(c.error, nullptr) << c.name;
        } catch (const KelvaneError& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.what();
            EXPECT_EQ(e.what(), error) << c.name;
            EXPECT_EQ(p.Connected(), !closes) << c.name;
            p.Disconnect();
        }
        EXPECT_EQ(p.ServerPipelines(), c.pipelined) << c.name;
        // Only the pause the script makes may end a sleep by its time.
        if (later.empty()) {
            EXPECT_EQ(sleeps.overslept, 0) << c.name;
        }
        ASSERT_EQ(p.Info().Count(), c.records) << c.name;
        Events expected{"Open", "UpdatingInfo"};
        for (std::size_t i = 0; i < c.records; ++i) {
            EXPECT_EQ(p.Info()[i].Size, 100 * static_cast<int>(i + 1)) << c.name;
            TmsHeaders h;
            h.LoadFromText(headers(static_cast<int>(i + 1)));
            EXPECT_EQ(p.Info()[i].Headers.Lines(), h.Lines()) << c.name;
            expected.push_back("NextInfo" + std::to_string(i));
        }
        if (outOfStep) expected.push_back("Error:" + error);
        expected.insert(expected.end(), {"Closing", "Closed"});
        if (!c.error) expected.push_back("InfoUpdated");
        if (c.script == Script::CancelAfterFirst)
            expected.push_back("Error:" + std::string(c.error));
        EXPECT_EQ(log, expected) << c.name;
        if (!closes) {
            EXPECT_EQ(p.LastReply(), "+OK bye") << c.name;
        }
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

// All identity checks go before the first DELE: a foreign third message of
// five stops the pass with nothing deleted, and no QUIT commits anything.
TEST_F(PopTest, PipelinedDeletionPass) {
    constexpr int kCount = 5;
    auto headers = [](int n) { return Headers(std::to_string(n) + "@x", "s" + std::to_string(n)); };
    const struct {
        const char* name;
        int foreign;    // message whose headers changed, 0: none
        int refused;    // message whose DELE is refused, 0: none
        bool repeated;  // the first DELE's reply comes twice
        const char* error;
        Events events;
    } cases[] = {
        {"all checks pass",
         0,
         0,
         false,
         nullptr,
         {"Open", "TransferringData", "Deleting0", "Deleting1", "Deleting2", "Deleting3",
          "Deleting4", "DataTransfered", "Closing", "Closed"}},
        {"third check fails",
         3,
         0,
         false,
         "IDs are different",
         {"Open", "TransferringData", "Error:IDs are different", "Closing", "Closed"}},
        {"third DELE refused",
         0,
         3,
         false,
         "-ERR locked",
         {"Open", "TransferringData", "Deleting0", "Deleting1", "Deleting2", "Deleting3",
          "Deleting4", "Closing", "Closed"}},
        // Read in step with the commands, the refusal would be left over.
        {"last DELE refused behind a repeated reply",
         0,
         5,
         true,
         kOutOfStep,
         {"Open", "TransferringData", "Deleting0", "Deleting1", "Deleting2", "Deleting3",
          "Deleting4", "Error:", "Closing", "Closed"}},
    };
    for (const auto& c : cases) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        for (int n = 1; n <= kCount; ++n) {
            auto item = std::make_unique<TmsRemoteInfoItem>();
            item->Headers.LoadFromText(headers(n));
            p.Info().Add(std::move(item));
            p.MarkForDelete(n - 1);
        }
        // The replies go in one batch after the commands they answer, and
        // none after a reply that ends the pass.
        FakeServer srv;
        GreetWithCapa(srv, kCapaPipelining, kCount);
        std::string batch;
        for (int n = 1; n <= kCount; ++n) {
            const std::string num = std::to_string(n);
            srv.Expect("LIST " + num).Expect("TOP " + num + " 1");
            if (c.foreign && n > c.foreign) continue;
            batch += "+OK " + num + " 100\r\n" +
                     TopBlock(n == c.foreign ? Headers("other@x", "moved up") : headers(n));
        }
        srv.Send(batch);
        if (c.foreign == 0) {
            batch.clear();
            for (int n = 1; n <= kCount; ++n) {
                srv.Expect("DELE " + std::to_string(n));
                if (!c.refused || n <= c.refused)
                    batch += n == c.refused ? "-ERR locked\r\n" : "+OK\r\n";
                if (n == 1 && c.repeated) batch += "+OK\r\n";
            }
            srv.Send(batch);
        }
        if (c.error) {
            srv.AwaitClientClose();
        } else {
            Quit(srv);
        }
        p.SetServer(srv.Address());
        const std::string error = c.error == kOutOfStep ? OutOfStepText(srv.Address())
                                  : c.error             ? c.error
                                                        : "";
        try {
            p.ProcessMarks();
            EXPECT_EQ(c.error, nullptr) << c.name;
        } catch (const KelvaneError& e) {
            ASSERT_NE(c.error, nullptr) << c.name << ": " << e.what();
            EXPECT_EQ(e.what(), error) << c.name;
        }
        EXPECT_FALSE(p.Connected()) << c.name;
        Events events = c.events;
        std::replace(events.begin(), events.end(), std::string("Error:"), "Error:" + error);
        EXPECT_EQ(log, events) << c.name;
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
        if (c.foreign) {
            EXPECT_EQ(srv.Received().find("DELE"), std::string::npos) << c.name;
        }
    }
}

// A keeper that settles nothing until the last copy is in, as a slow disk
// would, and refuses the second: the pass waits for it before its last DELEs
// and QUIT, and deletes only what was kept, pipelined or not.
TEST_F(PopTest, KeeperDecidesEachDelete) {
    struct SlowKeeper : CopyKeeper {
        std::size_t holdUntil;
        std::vector<Settled> held;
        std::vector<std::string> copies;
        explicit SlowKeeper(std::size_t n) : holdUntil(n) {}
        void Submit(int num, std::string message, bool) override {
            copies.push_back(message);
            held.push_back({num, num != 1, num == 1 ? "disk full" : ""});
        }
        std::vector<Settled> TakeSettled(bool) override {
            if (copies.size() < holdUntil) return {};
            return std::exchange(held, {});
        }
    };
    const auto message = [](int n) {
        return Headers(std::to_string(n) + "@x", "s") + "\r\n.x\r\n";
    };
    for (const bool pipelined : {false, true}) {
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        for (int n = 1; n <= 3; ++n) {
            auto item = std::make_unique<TmsRemoteInfoItem>();
            item->Headers.LoadFromText(Headers(std::to_string(n) + "@x", "s"));
            p.Info().Add(std::move(item));
            p.MarkForDelete(n - 1);
        }
        SlowKeeper keeper(pipelined ? 3 : 1);
        p.SetKeeper(&keeper);
        FakeServer srv;
        GreetWithCapa(srv, pipelined ? kCapaPipelining : kCapaPlain, 3);
        for (int n = 1; n <= 3; ++n) {
            Info(srv, n, 100, Headers(std::to_string(n) + "@x", "s"))
                .Expect("RETR " + std::to_string(n))
                .Send("+OK\r\n" + Headers(std::to_string(n) + "@x", "s") + "\r\n..x\r\n.\r\n");
            if (!pipelined && n != 2) srv.Expect("DELE " + std::to_string(n)).Send("+OK\r\n");
        }
        if (pipelined) srv.Expect("DELE 1").Send("+OK\r\n").Expect("DELE 3").Send("+OK\r\n");
        Quit(srv);
        p.SetServer(srv.Address());
        p.ProcessMarks();
        EXPECT_TRUE(srv.Finish()) << pipelined << ": " << srv.Report();
        EXPECT_EQ(keeper.copies, (std::vector<std::string>{message(1), message(2), message(3)}));
        EXPECT_EQ(p.NotKept(), 1) << pipelined;
        EXPECT_EQ(p.NotKeptReason(), "disk full") << pipelined;
        EXPECT_EQ(std::count(log.begin(), log.end(), "Deleting1"), 0) << pipelined;
    }
}

// A header block past what a record keeps is read whole but kept cut, in
// both ways of talking; the identity check reads it with the same bound,
// so the message is still known as itself at the deletion.
TEST_F(PopTest, HugeHeaderBlockIsKeptCutAndStillMatches) {
    const std::string pad = "X-Pad: " + std::string(3 << 20, 'x');
    const std::string headers = "Subject: big\r\n" + pad + "\r\nFrom: late@x\r\n";
    for (const bool pipelined : {false, true}) {
        SCOPED_TRACE(pipelined ? "pipelined" : "strict");
        TmsRemotePOP p;
        Events log;
        Wire(p, log);
        FakeServer srv;
        for (int session = 0; session < 2; ++session) {
            if (pipelined) {
                GreetWithCapa(srv, kCapaPipelining, 1);
            } else {
                Greet(srv, "+OK 1 999");
            }
            Info(srv, 1, 100, headers);
            if (session == 1) srv.Expect("DELE 1").Send("+OK\r\n");
            Quit(srv);
        }
        p.SetServer(srv.Address());
        p.UpdateInfo();
        ASSERT_EQ(p.Info().Count(), 1u);
        const TmsRemoteInfoItem& item = p.Info()[0];
        EXPECT_TRUE(item.HeadersCut);
        EXPECT_LE(HeaderCost(item.Headers), TmsCustomPOP::kKeepHeaderBlock);
        ASSERT_EQ(item.Headers.Count(), 2u) << "the From line is past the bound";
        EXPECT_EQ(item.Headers[0], "Subject: big");
        EXPECT_EQ(pad.rfind(item.Headers[1], 0), 0u) << "the pad line kept as far as it fits";
        p.MarkForDelete(0);
        EXPECT_NO_THROW(p.ProcessMarks());
        EXPECT_TRUE(srv.Finish()) << srv.Report();
    }
}

}  // namespace
}  // namespace kelvane
