#include "app/listcommands.h"

#include <gtest/gtest.h>

#include "support/pop3script.h"
#include "support/testdir.h"

using namespace kelvane;
using kelvane::test::ReadFile;
using kelvane::test::TempDir;

namespace {

using RecordingPrompts = test::ScriptedPrompts;

struct Fixture {
    TempDir dir;
    MessageList list;
    SpamSettings spam;
    KnownSpammerList known;
    MessageEvaluator evaluator{spam, known};
    TmsHeaders none;
    RecordingPrompts prompts;
    ListContext ctx{
        list, spam,       evaluator, [this](std::size_t) -> const TmsHeaders& { return none; },
        0,    dir.path(), prompts};

    Fixture() {
        list.Append({"Cheap pills", "spam@bad.com", "100", "", mmNone});
        list.Append({"Lunch?", "friend@good.org", "100", "", mmNone});
        list.Append({"", "blank@subject.net", "100", "", mmNone});
    }
};

}  // namespace

TEST(ListCommands, WhyReportsTheFirstSelectedRowAndChangesNothing) {
    Fixture f;
    f.spam.SubjectRule.AppendRow({"", "Contains", "pills", "No", "Yes", "0"});
    f.list.Rows()[1].mark = mmDelete;  // marked by hand
    auto report = Why1Click(f.ctx, {1, 0});
    ASSERT_TRUE(report);
    EXPECT_EQ(f.prompts.shown, std::vector<std::string>{std::string(kMoreThanOneSelectedText)});
    EXPECT_EQ(*report, (std::vector<std::string>{
                           "Message from friend@good.org", "Subject of   Lunch?", "",
                           "Message was neither on the exception list nor on the list of matching "
                           "criteria",
                           "** You marked this message **"}));
    EXPECT_EQ(f.list.Rows()[1].mark, mmDelete);
    EXPECT_EQ(f.spam.SubjectRule.Cell(5, 1), "0");

    f.prompts.shown.clear();
    EXPECT_FALSE(Why1Click(f.ctx, {}));
    EXPECT_EQ(f.prompts.shown.size(), 1u);
}

TEST(ListCommands, AddToSpamListSavesAndRemarks) {
    Fixture f;
    std::vector<SubjectAndSender> offered;
    AddtoSPAMlist1Click(f.ctx, {0, 2}, [&](const std::vector<SubjectAndSender>& m) {
        offered = m;
        return std::optional<AddChoice>(AddChoice{true, true});
    });
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].sender, "spam@bad.com");
    // The row with an empty subject added nothing; the other is now judged spam.
    EXPECT_EQ(f.list.Rows()[0].mark, mmDelete);
    EXPECT_EQ(f.list.Rows()[2].mark, mmNone);
    std::string subj = ReadFile(f.dir.file("subj.lst"));
    EXPECT_NE(subj.find("2,1,Cheap pills\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(f.dir.file("from.lst")).find("3,1,spam@bad.com\r\n"), std::string::npos);
}

TEST(ListCommands, CancelAddsNothingButStillRemarks) {
    Fixture f;
    f.list.Rows()[1].mark = mmDelete;  // a hand mark the re-marking replaces
    AddtoSPAMlist1Click(f.ctx, {0}, [](const auto&) { return std::optional<AddChoice>(); });
    EXPECT_EQ(f.list.Rows()[1].mark, mmNone);
    EXPECT_EQ(f.spam.SubjectRule.RowCount(), 2u);
    EXPECT_EQ(ReadFile(f.dir.file("subj.lst")), "");  // nothing saved
    EXPECT_EQ(f.prompts.shown,
              std::vector<std::string>{"None of the messages matched any of the spam criteria."});
}

TEST(ListCommands, ExceptionsForSelectedSenders) {
    Fixture f;
    f.spam.SubjectRule.AppendRow({"", "Contains", "Lunch", "No", "Yes", "0"});
    AddtoExceptions1Click(f.ctx, {1});
    EXPECT_EQ(f.list.Rows()[1].mark, mmException);
    EXPECT_EQ(f.spam.ExceptionRule.Cell(2, 1), "friend@good.org");
    EXPECT_NE(ReadFile(f.dir.file("except.lst")).find("2,1,friend@good.org\r\n"),
              std::string::npos);
}
