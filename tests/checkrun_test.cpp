// The check run and the deletion against a scripted POP3 server: rows and
// marks as headers arrive, the status texts, the log lines, and that a
// deletion removes exactly the messages the list shows marked.

#include "app/checkrun.h"
#include "app/checkpolicy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::FakeServer;
using test::ReadFile;
using test::TempDir;
using Lines = std::vector<std::string>;

using test::kFastClock;

const std::string kUser = "bob";
const std::string kPassword = "pw-not-in-logs";

struct Msg {
    std::string id;
    std::string from;
    std::string subject;
    std::string date = "Date: Tue, 8 Dec 2026 10:30:00 +0100";
    std::string size = "100";  // as LIST gives it

    std::string Block() const {
        std::string h = id.empty() ? "" : "Message-ID: <" + id + ">\r\n";
        h += "From: " + from + "\r\nSubject: " + subject + "\r\n";
        if (!date.empty()) h += date + "\r\n";
        return h;
    }
};

FakeServer& Login(FakeServer& srv, std::size_t count) {
    return test::ScriptLogin(srv, kUser, kPassword, "+OK " + std::to_string(count) + " 1000");
}

FakeServer& Top(FakeServer& srv, int num, const Msg& m) {
    const std::string n = std::to_string(num);
    return srv.Expect("LIST " + n)
        .Send("+OK " + n + " " + m.size + "\r\n")
        .Expect("TOP " + n + " 1")
        .Send("+OK\r\n" + m.Block() + "\r\nbody\r\n.\r\n");
}

FakeServer& Quit(FakeServer& srv) {
    return srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
}

// A whole header pass over msgs.
FakeServer& Session(FakeServer& srv, const std::vector<Msg>& msgs) {
    Login(srv, msgs.size());
    for (std::size_t i = 0; i < msgs.size(); ++i)
        Top(srv, static_cast<int>(i) + 1, msgs[i]);
    return Quit(srv);
}

class RecordingView : public CheckView {
  public:
    void Status(const std::string& t) override { status.push_back(t); }
    void Progress(const std::string& t) override { progress.push_back(t); }
    Lines status, progress;
};

const Msg kSpam{"1@x", "Shop <deals@shop.example>", "FREE offer"};
const Msg kFriend{"2@x", "Ann <ann@friend.example>", "Lunch?"};
const Msg kKnown{"3@x", "promo@spam.example", "hello"};

class CheckTest : public ::testing::Test {
  protected:
    CheckTest()
        : log([this] { return logName; }, [] { return std::time_t(1'800'000'000); }),
          evaluator(spam, known),
          check(pop, list, evaluator, log, view) {
        std::setlocale(LC_ALL, "C");
        spam.SubjectRule.AppendRow({"", "Contains", "free", "No", "Yes", "0"});
        spam.KnownSpammers = true;
        known.LoadFromText("spam.example\r\n");
        pop.SetClock(&kFastClock);
        logName = dir.file("log.txt");
    }

    void Connect(const FakeServer& srv) { check.LoadAccount({srv.Address(), kUser, kPassword}, 1); }
    Lines LogLines() const {
        Lines out;
        const std::string text = ReadFile(logName);
        for (std::size_t p = 0; p < text.size();) {
            const std::size_t e = text.find("\r\n", p);
            out.push_back(text.substr(p, e - p));
            p = e + 2;
        }
        return out;
    }
    Lines Marks() const {
        Lines out;
        for (const MessageRow& r : list.Rows())
            out.push_back(r.subject + "=" + std::to_string(r.mark));
        return out;
    }
    // Fills the list by a check of msgs.
    void CheckOf(const std::vector<Msg>& msgs) {
        FakeServer srv;
        Session(srv, msgs);
        Connect(srv);
        check.UpdateInfo();
        ASSERT_TRUE(srv.Finish()) << srv.Report();
    }

    TempDir dir;
    std::string logName;
    SpamSettings spam;
    KnownSpammerList known;
    ActivityLog log;
    MessageEvaluator evaluator;
    TmsRemotePOP pop;
    MessageList list;
    RecordingView view;
    MailCheck check;
    test::ScriptedPrompts answers;
};

// A size past 32 bits is a big message, and one that cannot be read is no
// size at all: with "smaller than" deleting, neither may be taken for 0.
TEST_F(CheckTest, SizesPast32BitsOrUnreadableAreNeverSmall) {
    spam.Limits = {true, 1000, true, false, 0, false};
    Msg big{"6@x", "a@b.example", "big"}, huge{"7@x", "a@b.example", "huge"},
        word{"8@x", "a@b.example", "word"}, small{"9@x", "a@b.example", "small"};
    big.size = "3000000000";
    huge.size = "99999999999999999999";
    word.size = "12k";
    small.size = "999";
    CheckOf({big, huge, word, small});

    EXPECT_EQ(Marks(), (Lines{"big=-1", "huge=-1", "word=-1", "small=0"}));
    Lines sizes;
    for (const MessageRow& r : list.Rows())
        sizes.push_back(r.size);
    EXPECT_EQ(sizes, (Lines{"3000000000", "", "", "999"}));
}

TEST_F(CheckTest, RowsAreListedAndMarkedAsTheyArrive) {
    Msg odd{"4@x", "<<<broken", "odd sender", "Date: sometime soon"};
    Msg undated{"5@x", "c@d.example", "no date", ""};
    CheckOf({kSpam, kFriend, kKnown, odd, undated});

    ASSERT_EQ(list.Count(), 5u);
    EXPECT_EQ(Marks(),
              (Lines{"FREE offer=0", "Lunch?=-1", "hello=3", "odd sender=-1", "no date=-1"}));
    const auto& rows = list.Rows();
    EXPECT_EQ(rows[0].sender, "deals@shop.example");
    EXPECT_EQ(rows[0].size, "100");
    EXPECT_EQ(rows[0].date, "12/08/26 10:30:00");
    // An unreadable From is listed with its text rather than ending the check.
    EXPECT_EQ(rows[3].sender, "<<<broken");
    EXPECT_EQ(rows[3].date, "sometime soon");
    EXPECT_EQ(rows[4].date, "");
    EXPECT_EQ(spam.SubjectRule.Cell(5, 1), "1");  // a row marked for deletion is not walked again
    EXPECT_EQ(view.progress.front(), "Message 1 of 5");
    EXPECT_EQ(view.progress.back(), "Message 5 of 5");
    EXPECT_EQ(view.status.front(), "Opening connection for bob on " + pop.Server());
    EXPECT_NE(std::find(view.status.begin(), view.status.end(),
                        "Getting message 3 of 5 total waiting messages"),
              view.status.end());
    EXPECT_EQ(view.status.back(), "5 msg(s) for bob on " + pop.Server());
    EXPECT_FALSE(check.Checking());

    check.LogMailCheck();
    const Lines logged = LogLines();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(
        logged[0].rfind("MAIL CHECK 5 msg(s) for \"bob\" on server " + pop.Server() + " at ", 0),
        0u);
}

TEST_F(CheckTest, DateColumn) {
    struct Case {
        const char* field;
        const char* shown;
    } cases[] = {
        {"Tue, 8 Dec 2026 10:30:00 +0100", "12/08/26 10:30:00"},
        {"8 Dec 2026 00:00:00 GMT", "12/08/26"},  // midnight: no time
        {"yesterday", "yesterday"},
        {"", ""},
    };
    std::setlocale(LC_ALL, "C");
    for (const auto& c : cases)
        EXPECT_EQ(ListDateText(c.field), c.shown) << c.field;
}

TEST_F(CheckTest, MissingAccountData) {
    struct Case {
        PopSettings account;
        std::optional<std::string> text;
    } cases[] = {
        {{"pop.example", "", "pw"}, std::string(kNeedUserNameText)},
        {{"pop.example", "   ", "pw"}, std::string(kNeedUserNameText)},
        {{"", "", "pw"}, std::string(kNeedUserNameText)},
        {{" ", "bob", "pw"}, std::string(kNeedServerText)},
        {{"pop.example", " \r\n\b", "pw"}, std::string(kNeedUserNameText)},
        // TAB is not blank: the server, not this check, refuses such a name.
        {{"pop.example", "\t", "pw"}, std::nullopt},
        {{"\t\t", "bob", "pw"}, std::nullopt},
        {{"pop.example", "bob", ""}, std::nullopt},  // the client asks for the password
    };
    for (const auto& c : cases) {
        check.LoadAccount(c.account, 0);
        EXPECT_EQ(check.MissingAccountText(), c.text) << c.account.userName;
    }
}

// A refusal from the server is shown, not logged as a connection error;
// the rows that arrived before it stay.
TEST_F(CheckTest, FailureKeepsTheRowsThatArrived) {
    FakeServer srv;
    Login(srv, 2);
    Top(srv, 1, kSpam);
    srv.Expect("LIST 2").Send("-ERR gone\r\n").Close();
    Connect(srv);

    try {
        check.UpdateInfo();
        FAIL() << "no error";
    } catch (const ServerError& e) {
        EXPECT_STREQ(e.what(), "-ERR gone");
    }
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(Marks(), (Lines{"FREE offer=0"}));
    EXPECT_FALSE(check.Checking());
    EXPECT_TRUE(LogLines().empty());
}

// A refusal leaves the session open. The next mailbox of an unattended walk
// must get a session of its own, not list the first mailbox's messages.
TEST_F(CheckTest, NextMailboxNeverUsesASessionLeftOpen) {
    FakeServer first;
    Login(first, 1);
    first.Expect("LIST 1").Send("-ERR busy\r\n").AwaitClientClose();
    Connect(first);
    EXPECT_THROW(check.UpdateInfo(), ServerError);
    EXPECT_TRUE(pop.Connected());

    FakeServer second;
    Session(second, {kFriend});
    check.LoadAccount({second.Address(), kUser, kPassword}, 2);
    EXPECT_FALSE(pop.Connected());
    check.UpdateInfo();
    EXPECT_TRUE(first.Finish()) << first.Report();
    EXPECT_TRUE(second.Finish()) << second.Report();
    EXPECT_EQ(Marks(), (Lines{"Lunch?=-1"}));
}

TEST_F(CheckTest, CancelEmptiesTheListAndLogsTwoLines) {
    FakeServer srv;
    Login(srv, 2);
    Top(srv, 1, kSpam);
    srv.Expect("LIST 2").Silence(std::chrono::milliseconds(3000));
    Connect(srv);
    bool canceled = false;
    pop.SetEventPump([&] {
        if (!canceled && list.Count() == 1) {
            canceled = true;
            check.Cancel();
        }
    });

    EXPECT_THROW(check.UpdateInfo(), CancelError);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(pop.Connected());
    const Lines logged = LogLines();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0].rfind("OPERATION CANCELED FOR bob ON " + pop.Server() + " AT ", 0), 0u);
    EXPECT_EQ(logged[1].rfind("ERROR Operation has been canceled FOR bob ON ", 0), 0u);
    EXPECT_EQ(ReadFile(logName).find(kPassword), std::string::npos);
}

// ---------------------------------------------------------------- deletion

// The second session re-reads each marked message before its DELE.
FakeServer& DeleteSession(FakeServer& srv, const std::vector<Msg>& msgs,
                          const std::vector<int>& numbers) {
    Login(srv, msgs.size());
    for (int n : numbers) {
        Top(srv, n, msgs[static_cast<std::size_t>(n - 1)]);
        srv.Expect("DELE " + std::to_string(n)).Send("+OK\r\n");
    }
    return Quit(srv);
}

TEST_F(CheckTest, DeletesExactlyTheMarkedRowsThenRefills) {
    const std::vector<Msg> msgs{kSpam, kFriend, kKnown};
    CheckOf(msgs);
    FakeServer srv;
    DeleteSession(srv, msgs, {1, 3});
    Session(srv, {kFriend});
    Connect(srv);
    int added = -1;

    answers.WillAnswer(true);
    const DeletionResult r =
        check.DeleteMessages({true, true, false}, answers, [&](int n) { added = n; });

    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_TRUE(r.ran);
    EXPECT_EQ(r.marked, 2);
    EXPECT_EQ(added, 2);
    EXPECT_EQ(answers.asked, (Lines{"confirm:Really delete messages from server?"}));
    EXPECT_EQ(Marks(), (Lines{"Lunch?=-1"}));
    EXPECT_EQ(view.status.back(), "There were 2 messages deleted");
    EXPECT_FALSE(check.Deleting());

    const Lines logged = LogLines();
    ASSERT_EQ(logged.size(), 10u);
    EXPECT_EQ(logged[0].rfind("DELETE SPAM on ", 0), 0u);
    EXPECT_EQ(logged[1], "   Server:  " + pop.Server() + " Mailbox: bob");
    EXPECT_EQ(logged[2], "   Subject: FREE offer");
    EXPECT_EQ(logged[3], "   Sender:  deals@shop.example");
    EXPECT_EQ(logged[4], "   Size:    100  Date: 12/08/26 10:30:00");
    EXPECT_EQ(logged[7], "   Subject: hello");
}

TEST_F(CheckTest, QuestionsAndShortcuts) {
    struct Case {
        const char* name;
        DeletionOptions options;
        bool anythingMarked;
        bool yes;
        Lines asked;
    } cases[] = {
        {"manual, nothing marked",
         {true, true, false},
         false,
         true,
         {"info:There were no messages marked to delete!"}},
        {"unattended, nothing marked", {false, true, false}, false, true, {}},
        {"manual, no confirmation wanted, nothing marked", {true, false, false}, false, true, {}},
        {"user says No",
         {true, true, false},
         true,
         false,
         {"confirm:Really delete messages from server?"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckOf(c.anythingMarked ? std::vector<Msg>{kSpam, kFriend} : std::vector<Msg>{kFriend});
        const Lines before = Marks();
        answers = test::ScriptedPrompts();
        answers.WillAnswer(c.yes);
        bool totalRaised = false;
        const DeletionResult r =
            check.DeleteMessages(c.options, answers, [&](int) { totalRaised = true; });
        EXPECT_FALSE(r.ran);
        EXPECT_FALSE(totalRaised);
        EXPECT_EQ(answers.asked, c.asked);
        EXPECT_EQ(Marks(), before);  // no connection was made: no server is listening
    }
}

// With the mail program to launch and mail left over, the list stays empty
// and the server is not asked again; with everything deleted it refills.
TEST_F(CheckTest, LaunchLeavesTheListEmpty) {
    const std::vector<Msg> msgs{kSpam, kFriend};
    CheckOf(msgs);
    FakeServer srv;
    DeleteSession(srv, msgs, {1});
    Connect(srv);
    const DeletionResult r = check.DeleteMessages({true, false, true}, answers, nullptr);
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_TRUE(r.launchMailer);
    EXPECT_EQ(list.Count(), 0u);

    CheckOf({kSpam});
    FakeServer all;
    DeleteSession(all, {kSpam}, {1});
    Session(all, {});
    Connect(all);
    EXPECT_FALSE(check.DeleteMessages({true, false, true}, answers, nullptr).launchMailer);
    EXPECT_TRUE(all.Finish()) << all.Report();
}

// A deletion that failed leaves delete marks on the client's records. The
// user then unmarks that row: the next deletion must not take it along.
TEST_F(CheckTest, StaleMarksOfAFailedDeletionAreNotCarriedOver) {
    const std::vector<Msg> msgs{kSpam, kFriend, kKnown};
    CheckOf(msgs);
    FakeServer first;
    Login(first, 3);
    Top(first, 1, kFriend);  // message 1 is no longer the one listed
    first.Close();
    Connect(first);
    bool totalRaised = false;
    try {
        check.DeleteMessages({false, false, false}, answers, [&](int) { totalRaised = true; });
        FAIL() << "no error";
    } catch (const KelvaneError& e) {
        EXPECT_STREQ(e.what(), "IDs are different");
    }
    EXPECT_TRUE(first.Finish()) << first.Report();
    EXPECT_FALSE(totalRaised);
    EXPECT_FALSE(check.Deleting());
    ASSERT_EQ(list.Count(), 3u);  // the rows the user saw stay
    check.Cancel();               // as the user does to end the failed run

    list.Rows()[0].mark = mmNone;
    FakeServer second;
    DeleteSession(second, msgs, {3});
    Session(second, {kSpam, kFriend});
    Connect(second);
    EXPECT_TRUE(check.DeleteMessages({false, false, false}, answers, nullptr).ran);
    EXPECT_TRUE(second.Finish()) << second.Report();
}

TEST_F(CheckTest, RefusedDeleteIsNotCountedAsDeleted) {
    const std::vector<Msg> msgs{kSpam, kFriend};
    CheckOf(msgs);
    FakeServer srv;
    Login(srv, 2);
    Top(srv, 1, kSpam);
    srv.Expect("DELE 1").Send("-ERR locked\r\n").AwaitClientClose();
    Connect(srv);
    bool totalRaised = false;
    try {
        check.DeleteMessages({false, false, false}, answers, [&](int) { totalRaised = true; });
        FAIL() << "no error";
    } catch (const KelvaneError& e) {
        EXPECT_STREQ(e.what(), "-ERR locked");
    }
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_FALSE(totalRaised);
    for (const std::string& s : view.status)
        EXPECT_EQ(s.find("messages deleted"), std::string::npos) << s;
    // Without QUIT nothing was deleted: the log holds the failure, no block.
    const std::string log = ReadFile(logName);
    EXPECT_EQ(log.find("DELETE SPAM on "), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR -ERR locked FOR bob ON "), std::string::npos) << log;
}

// Two reports of one script, sent in the same second: byte-equal header
// blocks without a Message-ID. After the check another program deletes
// message 1, so the twin listed third now has number 2, the number of the
// one marked. Only its size or its unique id can tell it from the other.
TEST_F(CheckTest, TwinMessagesAreToldApartBeforeTheDelete) {
    const struct {
        const char* name;
        bool pipelined;
        bool uidl;     // the server answers UIDL
        bool shifted;  // message 1 went away after the check
        bool deletes;
    } cases[] = {
        {"strict, sizes differ", false, false, true, false},
        {"pipelined, sizes differ", true, false, true, false},
        {"strict, same size, ids differ", false, true, true, false},
        {"pipelined, same size, ids differ", true, true, true, false},
        {"pipelined, nothing moved", true, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Msg twin{"", "report@host.example", "Nightly report"};
        twin.date = "";
        Msg big = twin, small = twin;
        big.size = "50000";
        small.size = c.uidl ? "50000" : "900";
        const std::vector<Msg> before{kFriend, big, small};
        const std::vector<Msg> now = c.shifted ? std::vector<Msg>{big, small} : before;
        const std::vector<std::string> ids{"id-friend", "id-big", "id-small"};
        auto uidl = [&](FakeServer& srv, std::size_t from) {
            if (!c.uidl) return;
            std::string listing = "+OK\r\n";
            for (std::size_t i = from; i < ids.size(); ++i)
                listing += std::to_string(i - from + 1) + " " + ids[i] + "\r\n";
            srv.Expect("UIDL").Send(listing + ".\r\n");
        };
        FakeServer srv;
        if (c.pipelined) srv.SetCapaAnswer("+OK\r\nPIPELINING\r\n.\r\n");
        srv.SetLockstep(!c.pipelined);
        Login(srv, before.size());
        uidl(srv, 0);
        for (std::size_t i = 0; i < before.size(); ++i)
            Top(srv, static_cast<int>(i) + 1, before[i]);
        Quit(srv);
        Login(srv, now.size());
        uidl(srv, c.shifted ? 1 : 0);
        Top(srv, 2, now[1]);
        if (c.deletes) {
            srv.Expect("DELE 2").Send("+OK\r\n");
            Quit(srv);
        } else {
            srv.AwaitClientClose();
        }
        Connect(srv);
        check.UpdateInfo();
        ASSERT_EQ(list.Count(), 3u);
        for (MessageRow& row : list.Rows())
            row.mark = mmNone;
        list.Rows()[1].mark = mmDelete;
        try {
            check.DeleteMessages({true, false, true}, answers, nullptr);
            EXPECT_TRUE(c.deletes) << "deleted the other twin";
        } catch (const KelvaneError& e) {
            EXPECT_FALSE(c.deletes) << e.what();
            EXPECT_STREQ(e.what(), "IDs are different");
            pop.Close();
        }
        EXPECT_TRUE(srv.Finish()) << srv.Report();
        EXPECT_EQ(ReadFile(logName).find("DELETE SPAM"), c.deletes ? 0u : std::string::npos);
        std::filesystem::remove(logName);
    }
}

TEST_F(CheckTest, SecondDeletionWhileOneRunsIsIgnored) {
    const std::vector<Msg> msgs{kSpam, kFriend};
    CheckOf(msgs);
    FakeServer srv;
    DeleteSession(srv, msgs, {1});
    Session(srv, {kFriend});
    Connect(srv);
    int inner = 0;
    pop.SetEventPump([&] {
        if (check.Deleting() && inner == 0) {
            inner = 1;
            const DeletionResult r = check.DeleteMessages({false, false, false}, answers, nullptr);
            if (!r.ran) inner = 2;
        }
    });
    EXPECT_TRUE(check.DeleteMessages({false, false, false}, answers, nullptr).ran);
    EXPECT_EQ(inner, 2);
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(CheckTest, NoLogNameMeansNoLogLines) {
    logName = "";
    const std::vector<Msg> msgs{kSpam};
    CheckOf(msgs);
    FakeServer srv;
    DeleteSession(srv, msgs, {1});
    Session(srv, {});
    Connect(srv);
    EXPECT_TRUE(check.DeleteMessages({false, false, false}, answers, nullptr).ran);
    check.LogMailCheck();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_FALSE(std::filesystem::exists(dir.file("log.txt")));
}

}  // namespace
}  // namespace kelvane

namespace kelvane {
namespace {

// The running total as the store holds it, raised by a deletion of three.
TEST(RunningTotal, RaisedFromWhatIsStored) {
    const struct {
        const char* stored;  // null: no key yet
        const char* raised;
    } cases[] = {
        {nullptr, "3"},
        {"40", "43"},
        {"0x10", "19"},  // an old store's hexadecimal
        {"2147483647", "2147483650"},
        {"2147483650", "2147483653"},  // past 32 bits, as written above
        {"many", "3"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const Locations where{dir.path(), dir.file("10.ini")};
        if (c.stored) {
            SettingsStore user = SettingsStore::OpenUser(where);
            keys::Write(user, keys::Count, c.stored);
        }
        AddToTotal(where, 3);
        EXPECT_EQ(keys::Read(SettingsStore::OpenUser(where), keys::Count), c.raised)
            << (c.stored ? c.stored : "none");
    }
}

}  // namespace
}  // namespace kelvane
