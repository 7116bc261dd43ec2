// Runs the real kelvane-cli eval on rule sets and saved messages of the
// test's own.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/testdir.h"

using kelvane::test::ReadFile;
using kelvane::test::RuleFile;
using kelvane::test::RunCli;
using kelvane::test::TempDir;
using kelvane::test::WriteFile;

namespace {

struct Folders {
    TempDir home;
    TempDir prog;

    void Write(const std::string& name, const std::string& text) {
        WriteFile(prog.file(name), text);
    }
    std::string Message(const std::string& name, const std::string& text) {
        WriteFile(home.file(name), text);
        return home.file(name);
    }
    kelvane::test::RunResult Eval(std::vector<std::string> args) {
        args.insert(args.begin(), {"--dir", prog.path(), "eval"});
        return RunCli(args, home.path());
    }
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(prog.path()))
            files[e.path().filename().string()] = ReadFile(e.path().string());
        return files;
    }
};

const std::string kFreeSubject = RuleFile(6, {"Contains", "free", "No", "Yes", "0"});

}  // namespace

TEST(CliEval, MarksFromEachKindOfRule) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> files;
        std::string message;
        std::string out;
    } rows[] = {
        {"subject rule deletes",
         {{"subj.lst", kFreeSubject}},
         "From: Ann <ann@a.com>\r\nSubject: Get FREE stuff\r\n\r\nbody\r\n",
         "delete\tann@a.com\tGet FREE stuff\n"},
        {"no rule matches",
         {{"subj.lst", kFreeSubject}},
         "From: ann@a.com\r\nSubject: Lunch\r\n",
         "none\tann@a.com\tLunch\n"},
        {"rule without Del? asks",
         {{"subj.lst", RuleFile(6, {"Contains", "free", "No", "No", "0"})}},
         "From: ann@a.com\r\nSubject: free\r\n",
         "question\tann@a.com\tfree\n"},
        {"exception wins over a delete rule",
         {{"subj.lst", kFreeSubject},
          {"except.lst", RuleFile(5, {"E-mail address", "Equals", "ann@a.com", "No", "0"})}},
         "From: Ann <ann@a.com>\r\nSubject: free\r\n",
         "exception\tann@a.com\tfree\n"},
        {"known spammer when monitored",
         {{"known.lst", "spam.biz\r\n"}, {"Kelvane.ini", "[Known]\r\nQMonitor=1\r\n"}},
         "From: joe@spam.biz\r\nSubject: hi\r\n",
         "known-spammer\tjoe@spam.biz\thi\n"},
        {"known list ignored when not monitored",
         {{"known.lst", "spam.biz\r\n"}},
         "From: joe@spam.biz\r\nSubject: hi\r\n",
         "none\tjoe@spam.biz\thi\n"},
        // The sender rule sees the raw, trimmed From text.
        {"unparsable From judged raw",
         {{"from.lst", RuleFile(6, {"E-mail address", "Starts with", "joe <joe@x", "Yes", "0"})}},
         "From:   joe <joe@x  \r\nSubject: hi\r\n",
         "delete\tjoe <joe@x\thi\n"},
        {"body lines are not headers",
         {{"header.lst", RuleFile(6, {"Contains", "X-Spam: yes", "No", "Yes", "0"})}},
         "From: ann@a.com\r\nSubject: hi\r\n\r\nX-Spam: yes\r\nX-Spam: yes\r\n\r\nbye\r\n",
         "none\tann@a.com\thi\n"},
        {"header rule on the header block",
         {{"header.lst", RuleFile(6, {"Contains", "X-Spam: yes", "No", "Yes", "0"})}},
         "From: ann@a.com\nX-Spam: yes\nSubject: hi\n",
         "delete\tann@a.com\thi\n"},
        {"line breaks inside a field become blanks",
         {},
         "From: ann@a.com\r\nSubject: =?us-ascii?Q?a=0Db=0Ac?=\r\n",
         "none\tann@a.com\ta b c\n"},
        // An encoded TAB must not shift the columns.
        {"a TAB inside a field becomes a blank",
         {},
         "From: =?us-ascii?Q?x=09y?= <ann@a.com>\r\nSubject: =?us-ascii?Q?a=09b?=\r\n",
         "none\tann@a.com\ta b\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Folders s;
        for (const auto& [name, text] : r.files)
            s.Write(name, text);
        auto result = s.Eval({s.Message("m.eml", r.message)});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, r.out);
    }
}

TEST(CliEval, SizeIsTheFileOrTheGivenValue) {
    Folders s;
    s.Write("Kelvane.ini", "[Larger]\r\nQLarger=1\r\nNum=1000\r\nCheck=0\r\n");
    std::string m = s.Message("m.eml", "From: ann@a.com\r\nSubject: hi\r\n");
    EXPECT_EQ(s.Eval({m}).out, "none\tann@a.com\thi\n");
    EXPECT_EQ(s.Eval({"--size", "5000", m}).out, "question\tann@a.com\thi\n");
    s.Message("big.eml", "From: ann@a.com\r\nSubject: hi\r\n\r\n" + std::string(2000, 'x'));
    EXPECT_EQ(s.Eval({s.home.file("big.eml")}).out, "question\tann@a.com\thi\n");
}

TEST(CliEval, MailboxRuleAppliesOnlyOnItsConnection) {
    Folders s;
    s.Write("header.lst",
            RuleFile(6, {"To does not contain", "bob@x.org - MailBox #2", "No", "Yes", "0"}));
    for (const char* slot : {"2", "3"}) {
        // Slot 3 names the same account in other case, so it stands for slot 2.
        auto r = RunCli({"mailbox", "set", slot, "--server", slot[0] == '2' ? "pop.x" : "POP.X",
                         "--user", slot[0] == '2' ? "bob" : "Bob", "--password-stdin"},
                        s.home.path(), "pw\n");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    ASSERT_EQ(
        RunCli({"mailbox", "set", "4", "--server", "pop.y", "--user", "bob", "--password-stdin"},
               s.home.path(), "pw\n")
            .status,
        0);
    std::string m = s.Message("m.eml", "From: ann@a.com\r\nTo: carol@y.org\r\nSubject: hi\r\n");
    struct Row {
        std::vector<std::string> args;
        std::string mark;
    } rows[] = {
        {{}, "none"},
        {{"--mailbox", "2"}, "delete"},
        {{"--mailbox", "3"}, "delete"},
        {{"--mailbox", "4"}, "none"},
        {{"--mailbox", "5"}, "none"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.push_back(m);
        auto r = s.Eval(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.mark + "\tann@a.com\thi\n") << testing::PrintToString(row.args);
    }
    // Addressed to bob: the rule does not match even on its connection.
    std::string toBob = s.Message("b.eml", "From: ann@a.com\r\nTo: Bob@X.org\r\nSubject: hi\r\n");
    EXPECT_EQ(s.Eval({"--mailbox", "2", toBob}).out, "none\tann@a.com\thi\n");
}

TEST(CliEval, ReasonsFollowEachLine) {
    Folders s;
    s.Write("subj.lst", kFreeSubject);
    std::string a = s.Message("a.eml", "From: Ann <ann@a.com>\r\nSubject: Get free stuff\r\n");
    std::string b = s.Message("b.eml", "From: bo@b.com\r\nSubject: Lunch\r\n");
    auto r = s.Eval({"--reasons", a, b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "delete\tann@a.com\tGet free stuff\n"
              "Message from ann@a.com\n"
              "Subject of   Get free stuff\n"
              "\n"
              "Delete   :  Subject Contains \"free\" \n"
              "\n"
              "none\tbo@b.com\tLunch\n"
              "Message from bo@b.com\n"
              "Subject of   Lunch\n"
              "\n"
              "Message was neither on the exception list nor on the list of matching criteria\n"
              "\n");
}

TEST(CliEval, UnreadableFileFailsButOthersAreJudged) {
    Folders s;
    std::string a = s.Message("a.eml", "From: ann@a.com\r\nSubject: one\r\n");
    std::string b = s.Message("b.eml", "From: bo@b.com\r\nSubject: two\r\n");
    std::string missing = s.home.file("missing.eml");
    std::string huge = s.Message("huge.eml", "");
    std::filesystem::resize_file(huge, (64u << 20) + 1);  // sparse: costs no disk
    const std::string both = "none\tann@a.com\tone\nnone\tbo@b.com\ttwo\n";
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;  // expected within standard error
    } rows[] = {
        {{a, b}, 0, both, ""},
        {{a, missing, b}, 1, both, "File " + missing + " not found\n"},
        {{a, b, s.home.path()}, 1, both, s.home.path() + ": a folder, not a file\n"},
        {{a, "/dev/zero", b}, 1, both, "/dev/zero: larger than 64 MiB\n"},
        {{a, "/dev/null", b}, 0, "none\tann@a.com\tone\nnone\t\t\nnone\tbo@b.com\ttwo\n", ""},
        {{a, huge, b}, 1, both, huge + ": larger than 64 MiB\n"},
        {{}, 2, "", ""},
        {{"--mailbox", "13", a}, 2, "", ""},
        {{"--size", "-1", a}, 2, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        auto r = s.Eval(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
}

// A message piped in from a mail program, as "-" or as /dev/stdin.
TEST(CliEval, ReadsAMessagePipedIn) {
    Folders s;
    for (const char* name : {"-", "/dev/stdin"}) {
        SCOPED_TRACE(name);
        auto r = RunCli({"--dir", s.prog.path(), "eval", name}, s.home.path(),
                        "From: ann@a.com\r\nSubject: piped\r\n\r\nbody\r\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "none\tann@a.com\tpiped\n");
    }
}

TEST(CliEval, LeavesTheRuleSetUntouched) {
    Folders s;
    s.Write("subj.lst", kFreeSubject);
    s.Write("header.lst", RuleFile(6, {"Contains", "X-A", "No", "No", "7"}));
    s.Write("from.lst", RuleFile(6, {"Domain name", "Equals", "b.com", "Yes", "0"}));
    s.Write("except.lst", RuleFile(5, {"Subject", "Contains", "keep", "No", "0"}));
    s.Write("known.lst", "spam.biz\r\n");
    s.Write("Kelvane.ini", "[Known]\r\nQMonitor=1\r\n");
    const auto before = s.Snapshot();
    std::vector<std::string> files = {
        s.Message("1.eml", "From: a@a.com\r\nSubject: free\r\n"),
        s.Message("2.eml", "From: a@a.com\r\nX-A: 1\r\nSubject: x\r\n"),
        s.Message("3.eml", "From: a@b.com\r\nSubject: x\r\n"),
        s.Message("4.eml", "From: a@b.com\r\nSubject: keep free\r\n"),
        s.Message("5.eml", "From: a@spam.biz\r\nSubject: x\r\n"),
    };
    files.insert(files.begin(), "--reasons");
    auto r = s.Eval(files);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("known-spammer\t"), std::string::npos);
    EXPECT_EQ(s.Snapshot(), before);
}

TEST(CliEval, DamagedListWarnsAndStillJudges) {
    Folders s;
    s.Write("subj.lst", "6,3\r\n1,1,Contains\r\nbogus\r\n2,1,free\r\n4,1,Yes\r\n");
    auto r = s.Eval({s.Message("m.eml", "From: a@a.com\r\nSubject: free\r\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "delete\ta@a.com\tfree\n");
    EXPECT_EQ(r.err, "subj.lst line 3: \"bogus\" is not \"column,row,text\"; line skipped\n");
}
