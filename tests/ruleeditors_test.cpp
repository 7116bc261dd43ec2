#include "rules/ruleeditors.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "rules/rulelist.h"

namespace kelvane {
namespace {

std::string Join(const RuleCells& row) {
    std::string out;
    for (std::size_t i = 0; i < row.size(); ++i)
        out += (i ? "|" : "") + row[i];
    return out;
}

const char* FieldName(EditorField f) {
    switch (f) {
        case EditorField::Condition:
            return "Condition";
        case EditorField::Text:
            return "Text";
        case EditorField::To:
            return "To";
        case EditorField::Mailbox:
            return "Mailbox";
        case EditorField::Email:
            return "Email";
        case EditorField::Domain:
            return "Domain";
        case EditorField::Subject:
            return "Subject";
    }
    return "?";
}

// What OK does with a state: the refusal and its field, or the row it
// writes. A written row must also come back unchanged through the Edit
// preset, or editing a rule and pressing OK would change it.
template <class State>
std::string Confirm(const State& s, std::optional<EditorRefusal> (*check)(const State&),
                    RuleCells (*row)(const State&), State (*preset)(const RuleCells&)) {
    if (auto refusal = check(s))
        return "refused: " + refusal->text + " @" + FieldName(refusal->field);
    const RuleCells cells = row(s);
    const RuleCells again = row(preset(cells));
    if (again != cells) return "not stable: " + Join(cells) + " -> " + Join(again);
    return Join(cells);
}

std::string Subject(SubjectEditorState s) {
    return Confirm(s, &CheckSubject, &SubjectRow, &SubjectEditPreset);
}
std::string Sender(SenderEditorState s) {
    return Confirm(s, &CheckSender, &SenderRow, &SenderEditPreset);
}
std::string Header(HeaderEditorState s) {
    return Confirm(s, &CheckHeader, &HeaderRow, &HeaderEditPreset);
}
std::string Exception(ExceptionEditorState s) {
    return Confirm(s, &CheckException, &ExceptionRow, &ExceptionEditPreset);
}

struct EditorCase {
    const char* name;
    std::function<std::string()> run;
    const char* expected;
};

const EditorCase kCases[] = {
    // subject rules
    {"SubjectInsertPresetIsContainsCheckMark",
     [] {
         auto s = SubjectInsertPreset();
         s.text = "  free  ";
         return Subject(s);
     },
     "|Contains|free|No|Yes|"},
    {"SubjectBlankTextRefused",
     [] {
         auto s = SubjectInsertPreset();
         s.text = " \t ";
         return Subject(s);
     },
     "refused: The subject text cannot be left blank. @Text"},
    {"SubjectIsBlankNeedsNoTextAndEmptiesCase",
     [] {
         SubjectEditorState s{5, "leftover", true, false};
         return Subject(s);
     },
     "|Is blank|||No|"},
    {"SubjectUppercaseStored",
     [] {
         return Subject({6, "", false, true});
     },
     "|Is UPPERCASE|||Yes|"},
    {"SubjectEqualsStoredShortWithCase",
     [] {
         return Subject({2, "Hello", true, true});
     },
     "|Equals|Hello|Yes|Yes|"},
    {"SubjectUnknownConditionRefused",
     [] {
         return Subject(SubjectEditPreset({"", "Sounds like", "x", "No", "Yes", "3"}));
     },
     "refused: Choose a condition from the list. @Condition"},
    {"SubjectEditPresetReadsTheRow",
     [] {
         return Subject(SubjectEditPreset({"", "Ends with", "!!!", "Yes", "No", "7"}));
     },
     "|Ends with|!!!|Yes|No|"},
    // sender rules
    {"SenderInsertPresetIsEqualsDomain",
     [] {
         auto s = SenderInsertPreset();
         s.text = "spam.example ";
         return Sender(s);
     },
     "|Domain name|Equals|spam.example|Yes|"},
    {"SenderBlankRefused", [] { return Sender(SenderInsertPreset()); },
     "refused: The Sender field cannot be left blank. @Text"},
    {"SenderAllNumericDropsLeftoverText",
     [] {
         return Sender({7, false, "leftover", false});
     },
     "|E-mail address|All numeric||No|"},
    {"SenderHalfNumericAndFirstDigit",
     [] {
         return Sender({8, true, "", true}) + " " + Sender({9, true, "", true});
     },
     "|Domain name|50% numeric||Yes| |Domain name|First char numeric||Yes|"},
    {"SenderEditPresetEmailAddress",
     [] {
         return Sender(
             SenderEditPreset({"", "E-mail address", "Starts with", "sales", "Yes", "1"}));
     },
     "|E-mail address|Starts with|sales|Yes|"},
    // header rules
    {"HeaderInsertPresetIsX1", [] { return Header(HeaderInsertPreset()); },
     "|Contains|X-1|No|Yes|"},
    {"HeaderBlankTextRefused",
     [] {
         auto s = HeaderInsertPreset();
         s.text = "  ";
         return Header(s);
     },
     "refused: The header text cannot be blank @Text"},
    {"HeaderReplyToKind",
     [] {
         auto s = HeaderInsertPreset();
         s.kind = HeaderKind::ReplyToMismatch;
         s.caseMatters = true;
         s.checkMark = false;
         return Header(s);
     },
     "|Sender|does not match Reply-to|No|No|"},
    {"HeaderEqualsToKind",
     [] {
         auto s = HeaderInsertPreset();
         s.kind = HeaderKind::SenderEqualsTo;
         return Header(s);
     },
     "|Sender|equals To field|No|Yes|"},
    {"HeaderToKindReplacesAnOldMailboxNumber",
     [] {
         auto s = HeaderInsertPreset();
         s.kind = HeaderKind::ToDoesNotContain;
         s.to = "ann@example.com - MailBox #2";
         s.mailbox = 3;
         return Header(s);
     },
     "|To does not contain|ann@example.com - MailBox #3|No|Yes|"},
    {"HeaderToKindBlankRefused",
     [] {
         auto s = HeaderInsertPreset();
         s.kind = HeaderKind::ToDoesNotContain;
         s.to = " - MailBox #2";
         s.mailbox = 1;
         return Header(s);
     },
     "refused: The TO field cannot be blank @To"},
    {"HeaderToKindWithoutMailboxRefused",
     [] {
         auto s = HeaderInsertPreset();
         s.kind = HeaderKind::ToDoesNotContain;
         s.to = "ann@example.com";
         return Header(s);
     },
     "refused: Enter a mailbox with a server in the general settings first. @Mailbox"},
    {"HeaderEditPresetToRule",
     [] {
         const auto s =
             HeaderEditPreset({"", "To does not contain", "bob@x - MailBox #12", "No", "No", "4"});
         return std::string(s.kind == HeaderKind::ToDoesNotContain ? "to " : "other ") + s.to +
                " " + std::to_string(s.mailbox);
     },
     "to bob@x 12"},
    // exceptions
    {"ExceptionInsertPresetIsEmailAndRefusesEmpty",
     [] { return Exception(ExceptionInsertPreset()); },
     "refused: The email line cannot be blank @Email"},
    {"ExceptionEmail",
     [] {
         auto s = ExceptionInsertPreset();
         s.email = "ann@friend.example";
         return Exception(s);
     },
     "E-mail address|Equals|ann@friend.example|No|"},
    {"ExceptionDomainOfBlanksAccepted",
     [] {
         ExceptionEditorState s;
         s.kind = ExceptionKind::Domain;
         s.domain = "   ";
         s.caseMatters = true;
         return Exception(s);
     },
     "Domain name|Equals|   |Yes|"},
    {"ExceptionEmptyDomainRefused",
     [] {
         ExceptionEditorState s;
         s.kind = ExceptionKind::Domain;
         s.email = "left in the other field";
         return Exception(s);
     },
     "refused: The domain line cannot be blank @Domain"},
    {"ExceptionSubjectWithCondition",
     [] {
         ExceptionEditorState s;
         s.kind = ExceptionKind::Subject;
         s.condition = 3;
         s.subject = " Invoice";
         return Exception(s);
     },
     "Subject|Starts with| Invoice|No|"},
    {"ExceptionEmptySubjectRefused",
     [] {
         ExceptionEditorState s;
         s.kind = ExceptionKind::Subject;
         return Exception(s);
     },
     "refused: The subject line cannot be blank @Subject"},
};

class EditorTable : public testing::TestWithParam<EditorCase> {};

TEST_P(EditorTable, ConfirmGives) {
    EXPECT_EQ(GetParam().run(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(RuleEditors, EditorTable, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RuleEditors, ListsHoldWhatTheEditorsOffer) {
    EXPECT_EQ(std::set<std::string>(kSubjectSuggestions.begin(), kSubjectSuggestions.end()).size(),
              44u);
    EXPECT_EQ(std::set<std::string>(kSenderSuggestions.begin(), kSenderSuggestions.end()).size(),
              54u);
    EXPECT_EQ(std::string(kHeaderSuggestions.back()), "X-Sender: News Breaker");
    // Every stored keyword finds its item again.
    for (int i = 0; i < kSenderConditions; ++i)
        EXPECT_EQ(
            ConditionIndex(kConditionItems[static_cast<std::size_t>(i)].stored, kSenderConditions),
            i);
}

TEST(RuleEditors, MailboxEntriesOnlyForSlotsWithAServer) {
    MailboxTable table;
    table.slot(1) = {"pop.a.example", "ann", "", {}, {}};
    table.slot(3) = {"pop.b.example", "bob", "", {}, {}};
    table.slot(4) = {"", "carl", "", {}, {}};
    const auto entries = HeaderMailboxEntries(table);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].slot, 3);
    EXPECT_EQ(entries[1].text, "3) bob - server pop.b.example");
}

TEST(RuleEditors, ImportDropsRepeatsAndBlankLines) {
    const auto lines = ImportLines("a\r\na\nb\r\n  \n\ta \r\na");
    ASSERT_EQ(lines.size(), 5u);  // a, b, blank, "\ta ", a
    const auto rows = ImportedSubjectRows(lines);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Join(rows[0]), "|Contains (whole word)|a|No|Yes");
    EXPECT_EQ(Join(rows[2]), "|Contains (whole word)|a|No|Yes") << "trimmed of tabs and blanks";
    EXPECT_EQ(Join(ImportedExceptionRows({" x@y.example "})[0]),
              "E-mail address|Equals|x@y.example|No");
}

TEST(RuleListSort, RulesOrderedAndEmptyRowsStayLast) {
    RuleList list(RuleKind::Subject);
    for (const char* hits : {"10", "9", "", "100"})
        list.AppendRow({"", "Contains", std::string("m") + hits, "No", "Yes", hits});
    list.AppendRow({});  // an empty row ends the walk: it must stay behind the rules
    list.SortRows(rulecol::Subject::Hits, false);
    std::string order;
    for (std::size_t r = 1; r < list.RowCount(); ++r)
        order += list.Cell(rulecol::Subject::Hits, r) + ",";
    EXPECT_EQ(order, ",9,10,100,,");
    const auto from = list.SortRows(rulecol::Subject::Matches, true);
    EXPECT_EQ(list.Cell(rulecol::Subject::Matches, 1), "m9");
    EXPECT_EQ(from.back(), 5u);
}

}  // namespace
}  // namespace kelvane
