// The copy kept of every deleted message, against a scripted server: the
// fetch comes after the identity check and before the DELE of each message,
// a message without a safe copy stays on the server, and a restored copy is
// the server's message byte for byte.

#include "app/checkrun.h"
#include "app/deletedstore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "settings/keys.h"
#include "support/fakeserver.h"
#include "support/pop3script.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::FakeServer;
using test::ReadFile;
using test::TempDir;
using Lines = std::vector<std::string>;

const std::string kUser = "bob";
const std::string kPassword = "pw-bob";

// What a dot-stuffed transfer gets wrong: lines that start with a dot (one
// that looks like the end), 8-bit bytes, a bare CR, a line far longer than
// any buffer, and a last line that is a dot alone.
std::string Hostile(int n, std::size_t pad = 0) {
    return "Message-ID: <" + std::to_string(n) +
           "@x>\r\nFrom: Shop <deals@shop.example>\r\nSubject: FREE " + std::to_string(n) +
           "\r\n\r\n.\r\n..two\r\n. \r\n\xe9t\xe9 \xff\x80\r\nbare\rCR\r\n" +
           std::string(70000 + pad, 'L') + "\r\n.\r\n";
}

std::string Headers(const std::string& message) {
    return message.substr(0, message.find("\r\n\r\n") + 4);
}

std::string Stuffed(const std::string& message) {
    std::string out;
    for (std::size_t at = 0; at < message.size();) {
        if (message[at] == '.') out += '.';
        std::size_t lf = message.find('\n', at);
        lf = lf == std::string::npos ? message.size() : lf + 1;
        out.append(message, at, lf - at);
        at = lf;
    }
    if (!out.ends_with("\r\n")) out += "\r\n";
    return out + ".\r\n";
}

struct Case {
    const char* name;
    bool pipelined = false;
    bool keep = true;
    int maxKB = 1024;
    int refuse = 0;           // the message number whose RETR is refused
    bool unwritable = false;  // Deleted/tmp cannot hold a file
    Lines kept;               // subjects kept, as listed (newest first)
    int deleted = 2;
    std::string keepError;
};

class KeepCopyTest : public ::testing::TestWithParam<Case> {
  protected:
    KeepCopyTest()
        : log([this] { return dir.file("log.txt"); }, [] { return std::time_t(1'800'000'000); }),
          evaluator(spam, known),
          check(pop, list, evaluator, log, view) {
        std::setlocale(LC_ALL, "C");
        spam.SubjectRule.AppendRow({"", "Contains", "free", "No", "Yes", "0"});
        pop.SetClock(&test::kFastClock);
        where = Locations{dir.path(), dir.file("user.ini")};
        check.KeepCopiesIn(where, [] { return std::time_t(1'800'000'000); });
    }

    void Connect(const FakeServer& srv) { check.LoadAccount({srv.Address(), kUser, kPassword}, 1); }

    TempDir dir;
    Locations where;
    SpamSettings spam;
    KnownSpammerList known;
    ActivityLog log;
    MessageEvaluator evaluator;
    TmsRemotePOP pop;
    MessageList list;
    CheckView view;
    MailCheck check;
};

// Messages 1 and 3 are spam, 2 is not; each is the hostile text, 3 is large.
TEST_P(KeepCopyTest, FetchBeforeDeleteAndOnlyWithACopy) {
    const Case& c = GetParam();
    const std::vector<std::string> msgs{
        Hostile(1), "Message-ID: <2@x>\r\nSubject: hi\r\n\r\nok\r\n", Hostile(3, 3000)};
    const auto size = [&](int n) { return std::to_string(msgs[n - 1].size()); };
    const auto top = [&](FakeServer& srv, int n) -> FakeServer& {
        const std::string s = std::to_string(n);
        return srv.Expect("LIST " + s)
            .Send("+OK " + s + " " + size(n) + "\r\n")
            .Expect("TOP " + s + " 1")
            .Send("+OK\r\n" + Headers(msgs[n - 1]) + "x\r\n.\r\n");
    };
    {
        FakeServer srv;
        test::ScriptLogin(srv, kUser, kPassword, "+OK 3 100");
        for (int n = 1; n <= 3; ++n)
            top(srv, n);
        srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
        Connect(srv);
        check.UpdateInfo();
        ASSERT_TRUE(srv.Finish()) << srv.Report();
    }
    SettingsStore user = SettingsStore::OpenUser(where);
    keys::Write(user, keys::KeepDeleted, c.keep);
    keys::Write(user, keys::KeepMaxKB, c.maxKB);
    if (c.unwritable) {
        ASSERT_TRUE(MakeFolders(dir.file("Deleted")));
        test::WriteFile(dir.file("Deleted/tmp"), "not a folder");
    }

    FakeServer srv;
    if (c.pipelined) srv.SetCapaAnswer("+OK\r\nPIPELINING\r\n.\r\n");
    test::ScriptLogin(srv, kUser, kPassword, "+OK 3 100");
    const auto fetch = [&](int n) {
        const std::string s = std::to_string(n);
        const bool whole = static_cast<int>(msgs[n - 1].size()) <= c.maxKB * 1024;
        srv.Expect(whole ? "RETR " + s : "TOP " + s + " 0");
        if (n == c.refuse) return srv.Send("-ERR message locked\r\n"), false;
        srv.Send("+OK\r\n" + Stuffed(whole ? msgs[n - 1] : Headers(msgs[n - 1])));
        return !c.unwritable;
    };
    Lines deletes;
    for (int n : {1, 3}) {
        top(srv, n);
        // Pipelined, the fetch of 3 goes out before the DELE of 1.
        if (!c.keep) {
            deletes.push_back("DELE " + std::to_string(n));
        } else if (fetch(n)) {
            deletes.push_back("DELE " + std::to_string(n));
        }
        if (!c.pipelined) {
            for (const std::string& d : deletes)
                srv.Expect(d).Send("+OK\r\n");
            deletes.clear();
        }
    }
    for (const std::string& d : deletes)
        srv.Expect(d).Send("+OK\r\n");
    srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
    Connect(srv);
    DeletionOptions options;
    options.launch = true;  // no refill: the list keeps row 2 and nothing is asked
    options.confirm = false;
    int added = -1;
    test::ScriptedPrompts prompts;
    const DeletionResult r = check.DeleteMessages(options, prompts, [&](int n) { added = n; });
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(r.deleted, c.deleted);
    EXPECT_EQ(added, c.deleted);
    EXPECT_EQ(r.keepError, c.keepError);

    DeletedStore store(DeletedStore::FolderIn(dir.path()));
    Lines kept;
    for (const KeptMessage& m : store.List()) {
        kept.push_back(m.subject + (m.headersOnly ? " (headers)" : ""));
        EXPECT_EQ(m.user + " on " + m.server, kUser + " on " + pop.Server());
        EXPECT_EQ(m.mark, "delete");
        EXPECT_FALSE(m.reasons.empty());
        // Restored, the copy is what the server sent before stuffing it.
        TempDir out;
        store.Restore(m.id, out.path());
        const int n = m.subject == "FREE 1" ? 1 : 3;
        const std::string& sent = msgs[n - 1];
        EXPECT_EQ(ReadFile(out.file(m.id + ".eml")), m.headersOnly ? Headers(sent) : sent)
            << m.subject;
    }
    EXPECT_EQ(kept, c.kept);
    if (!c.unwritable && c.keep) {
        EXPECT_EQ(ReadFile(dir.file("log.txt")).find("   Kept:    copy ") != std::string::npos,
                  !c.kept.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepCopyTest,
    ::testing::Values(Case{"EachMessageFetchedBeforeItsDele",
                           false,
                           true,
                           1024,
                           0,
                           false,
                           {"FREE 3", "FREE 1"},
                           2,
                           ""},
                      Case{"PipelinedFetchesWithTheChecks",
                           true,
                           true,
                           1024,
                           0,
                           false,
                           {"FREE 3", "FREE 1"},
                           2,
                           ""},
                      Case{"RefusedFetchSparesThatMessage",
                           false,
                           true,
                           1024,
                           1,
                           false,
                           {"FREE 3"},
                           1,
                           "1 messages could not be kept and were not deleted"},
                      Case{"RefusedFetchPipelined",
                           true,
                           true,
                           1024,
                           3,
                           false,
                           {"FREE 1"},
                           1,
                           "1 messages could not be kept and were not deleted"},
                      Case{"UnwritableFolderDeletesNothing",
                           true,
                           true,
                           1024,
                           0,
                           true,
                           {},
                           0,
                           "2 messages could not be kept and were not deleted"},
                      Case{"LargeMessageKeepsItsHeaders",
                           false,
                           true,
                           70,
                           0,
                           false,
                           {"FREE 3 (headers)", "FREE 1"},
                           2,
                           ""},
                      Case{"KeepingOffFetchesNothing", true, false, 1024, 0, false, {}, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A session that fails before QUIT deletes nothing on the server but keeps
// its copies; the retry must find them, not keep each message twice. The
// server has no unique ids, and messages 1 and 3 are twins: two copies.
TEST_F(KeepCopyTest, RetryReusesTheCopiesOfAFailedSession) {
    const std::vector<std::string> msgs{Hostile(1), "Subject: hi\r\n\r\nok\r\n", Hostile(1)};
    FakeServer srv;  // one address for every session: the same mailbox
    srv.SetCapaAnswer("+OK\r\nPIPELINING\r\n.\r\n");
    const auto check = [&](int n, bool fetch) -> FakeServer& {
        const std::string s = std::to_string(n);
        srv.Expect("LIST " + s)
            .Send("+OK " + s + " " + std::to_string(msgs[n - 1].size()) + "\r\n")
            .Expect("TOP " + s + " 1")
            .Send("+OK\r\n" + Headers(msgs[n - 1]) + ".\r\n");
        if (fetch) srv.Expect("RETR " + s).Send("+OK\r\n" + Stuffed(msgs[n - 1]));
        return srv;
    };
    test::ScriptLogin(srv, kUser, kPassword, "+OK 3 100");
    for (int n = 1; n <= 3; ++n)
        check(n, false);
    srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();
    // The server refuses the second DELE: the client leaves without QUIT.
    test::ScriptLogin(srv, kUser, kPassword, "+OK 3 100");
    check(1, true);
    check(3, true);
    srv.Expect("DELE 1").Send("+OK\r\n").Expect("DELE 3").Send("-ERR busy\r\n");
    srv.AwaitClientClose();
    test::ScriptLogin(srv, kUser, kPassword, "+OK 3 100");
    check(1, true);
    check(3, true);
    srv.Expect("DELE 1").Send("+OK\r\n").Expect("DELE 3").Send("+OK\r\n");
    srv.Expect("QUIT").Send("+OK\r\n").AwaitClientClose();

    Connect(srv);
    this->check.UpdateInfo();
    DeletionOptions options;
    options.launch = true;  // no refill
    options.confirm = false;
    test::ScriptedPrompts prompts;
    EXPECT_THROW(this->check.DeleteMessages(options, prompts, nullptr), ServerError);
    EXPECT_EQ(this->check.DeleteMessages(options, prompts, nullptr).deleted, 2);
    EXPECT_TRUE(srv.Finish()) << srv.Report();

    DeletedStore store(DeletedStore::FolderIn(dir.path()));
    Lines kept;
    for (const KeptMessage& m : store.List())
        kept.push_back(m.subject);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (Lines{"FREE 1", "FREE 1"}));
    const std::string index = ReadFile(dir.file("Deleted/kelvane-index"));
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 3) << index;  // heading and two
}

}  // namespace
}  // namespace kelvane
