#include "app/messagelist.h"

#include <gtest/gtest.h>

#include "rules/addtolist.h"
#include "support/pop3script.h"
#include "support/testdir.h"

using namespace kelvane;

namespace {

using RecordingPrompts = test::ScriptedPrompts;

MessageList ListWithMarks(std::vector<MessageMark> marks) {
    MessageList list;
    for (std::size_t i = 0; i < marks.size(); ++i)
        list.Append({"subject " + std::to_string(i), "a@b.c", "100", "", marks[i]});
    return list;
}

std::vector<MessageMark> Marks(const MessageList& list) {
    std::vector<MessageMark> out;
    for (const MessageRow& r : list.Rows())
        out.push_back(r.mark);
    return out;
}

}  // namespace

TEST(MessageList, ToggleMarksAndUnmarks) {
    RecordingPrompts prompts;
    MessageList list = ListWithMarks({mmQuestion, mmKnownSpammer, mmNone, mmException, mmDelete});
    list.btMarkClick({0, 1, 2}, prompts);
    EXPECT_EQ(Marks(list),
              (std::vector<MessageMark>{mmDelete, mmNone, mmDelete, mmException, mmDelete}));
    list.btMarkClick({0, 3, 4}, prompts);
    list.btMarkClick({0, 3, 4}, prompts);
    // A question or exception does not come back after two toggles.
    EXPECT_EQ(Marks(list),
              (std::vector<MessageMark>{mmDelete, mmNone, mmDelete, mmNone, mmDelete}));
    EXPECT_TRUE(prompts.shown.empty());
}

TEST(MessageList, CountLineAndReset) {
    MessageList list = ListWithMarks({mmDelete, mmKnownSpammer, mmQuestion, mmException});
    EXPECT_EQ(list.CountLine(), "Message Total: 4 Number Marked: 2");
    list.ResetButtonClick();
    EXPECT_EQ(list.CountLine(), "Message Total: 4 Number Marked: 0");
}

TEST(MessageList, NothingSelectedExplainsWhy) {
    RecordingPrompts prompts;
    MessageList empty;
    empty.btMarkClick({}, prompts);
    MessageList full = ListWithMarks({mmNone});
    full.btMarkClick({}, prompts);
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0],
              "Either there are no e-mail messages waiting on the mail server or you have not yet "
              "clicked on the \"Check E-Mail\" button.");
    EXPECT_EQ(prompts.shown[1],
              "No messages were selected.  To select one message click on a subject.  To select "
              "multiple messages drag the mouse over the list of desired subjects.");
}

TEST(MessageList, AutoMarkJudgesAfreshAndSaysWhenNothingMatched) {
    SpamSettings spam;
    KnownSpammerList known;
    MessageEvaluator evaluator(spam, known);
    TmsHeaders none;
    auto headersOf = [&](std::size_t) -> const TmsHeaders& { return none; };
    RecordingPrompts prompts;

    MessageList list = ListWithMarks({mmDelete, mmQuestion});
    list.btRemarkClick(evaluator, headersOf, 0, prompts);
    EXPECT_EQ(Marks(list), (std::vector<MessageMark>{mmNone, mmNone}));
    EXPECT_EQ(prompts.shown,
              std::vector<std::string>{"None of the messages matched any of the spam criteria."});

    // Rules added from the list take effect at the re-marking.
    AddMessagesToSpamList(spam, {{"subject 1", "x@y.z"}}, AddChoice{true, false});
    prompts.shown.clear();
    list.btRemarkClick(evaluator, headersOf, 0, prompts);
    EXPECT_EQ(Marks(list), (std::vector<MessageMark>{mmNone, mmDelete}));
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(spam.SubjectRule.Cell(5, 1), "2");  // "1" when added, one hit now
}

TEST(AddToList, RulesGoFirstInReverseOrder) {
    SpamSettings spam;
    spam.SubjectRule.AppendRow({"", "Contains", "old", "No", "Yes", "4"});
    std::vector<SubjectAndSender> messages = {
        {"first", "a@x"}, {"", "skipped@x"}, {"third", "c@x"}};
    AddMessagesToSpamList(spam, messages, AddChoice{});
    EXPECT_EQ(spam.SubjectRule.Row(1),
              (std::vector<std::string>{"", "Equals", "third", "Yes", "Yes", "1"}));
    EXPECT_EQ(spam.SubjectRule.Cell(2, 2), "first");
    EXPECT_EQ(spam.SubjectRule.Cell(2, 3), "old");
    EXPECT_EQ(spam.SenderRule.Row(1),
              (std::vector<std::string>{"", "E-mail address", "Equals", "c@x", "Yes", "1"}));
    EXPECT_EQ(spam.SenderRule.Cell(3, 2), "a@x");
    EXPECT_NE(spam.SenderRule.Cell(3, 3), "skipped@x");  // an empty subject adds nothing at all

    SpamSettings none;
    AddMessagesToSpamList(none, messages, AddChoice{false, false});
    EXPECT_EQ(none.SubjectRule.RowCount(), 2u);
}

TEST(AddToList, OnlyTheFirst249MessagesAreTaken) {
    SpamSettings spam;
    std::vector<SubjectAndSender> messages(300, {"s", "a@b"});
    EXPECT_EQ(AddMessagesToSpamList(spam, messages, AddChoice{true, false}), 249u);
    EXPECT_EQ(spam.SubjectRule.RowCount(), 2u + 249u);
}

TEST(AddToList, FirstExceptionFillsTheEmptyRow) {
    SpamSettings spam;
    AddSenderException(spam, "friend@x.org");
    AddSenderException(spam, "friend@x.org");  // no check for an equal one
    EXPECT_EQ(spam.ExceptionRule.RowCount(), 3u);
    EXPECT_EQ(spam.ExceptionRule.Row(1),
              (std::vector<std::string>{"E-mail address", "Equals", "friend@x.org", "No", "0"}));
    EXPECT_EQ(spam.ExceptionRule.Row(2), spam.ExceptionRule.Row(1));
}
