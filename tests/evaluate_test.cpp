#include "rules/evaluate.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kelvane {
namespace {

using Cells = std::vector<std::string>;

// Rows as the lists store them; the first cell of the rule lists is the
// picture column.
Cells Subj(std::string what, std::string matches, std::string cs, std::string del) {
    return {"", std::move(what), std::move(matches), std::move(cs), std::move(del), "0"};
}
Cells From(std::string what, std::string cond, std::string matches, std::string del) {
    return {"", std::move(what), std::move(cond), std::move(matches), std::move(del), "0"};
}
Cells Hdr(std::string what, std::string matches, std::string cs, std::string del) {
    return Subj(std::move(what), std::move(matches), std::move(cs), std::move(del));
}
Cells Exc(std::string what, std::string cond, std::string matches, std::string cs) {
    return {std::move(what), std::move(cond), std::move(matches), std::move(cs), "0"};
}

void Fill(RuleList& list, const std::vector<Cells>& rows) {
    for (const auto& r : rows)
        list.AppendRow(r);
}

// The hit counts of every rule row, e.g. "E[] S[1 0] F[] H[2]", so one
// comparison shows which counters moved.
std::string Hits(const SpamSettings& s) {
    auto one = [](const RuleList& l, char tag) {
        std::string out(1, tag);
        out += '[';
        for (std::size_t r = 1; r < l.RowCount(); ++r) {
            if (l.RowIsEmpty(r)) continue;
            const std::string& h = l.Cell(l.HitsColumn(), r);
            if (r > 1) out += ' ';
            out += h.empty() ? "0" : h;
        }
        return out + ']';
    };
    return one(s.ExceptionRule, 'E') + " " + one(s.SubjectRule, 'S') + " " +
           one(s.SenderRule, 'F') + " " + one(s.HeaderRule, 'H');
}

struct Rules {
    std::vector<Cells> exceptions = {}, subjects = {}, senders = {}, headers = {};
    SizeLimits limits = {false, 0, false, false, 0, false};
    bool known = true;
};

SpamSettings MakeSettings(const Rules& r) {
    SpamSettings s;
    Fill(s.ExceptionRule, r.exceptions);
    Fill(s.SubjectRule, r.subjects);
    Fill(s.SenderRule, r.senders);
    Fill(s.HeaderRule, r.headers);
    s.Limits = r.limits;
    s.KnownSpammers = r.known;
    return s;
}

KnownSpammerList Blacklist() {
    KnownSpammerList k;
    k.LoadFromText("spam.example\r\nbad@evil.example\r\n");
    return k;
}

TmsHeaders MakeHeaders(std::string_view text) {
    TmsHeaders h;
    h.LoadFromText(text);
    return h;
}

MessageRow Row(std::string subject, std::string sender, std::string size = "5000",
               MessageMark mark = mmNone) {
    return {std::move(subject), std::move(sender), std::move(size), "", mark};
}

const char* kPlainHeaders =
    "From: Joe <joe@example.com>\r\nTo: me@mine.example\r\nSubject: hi\r\n"
    "X-Mailer: Foo\r\nX-Mailer: Bar\r\nReceived: last line\r\n";

struct MarkCase {
    const char* name;
    Rules rules;
    MessageRow row;
    const char* headers;
    int mailbox;
    MessageMark expected;
    const char* hits;
};

void PrintTo(const MarkCase& c, std::ostream* os) {
    *os << c.name;
}

const Rules kLimits100{{}, {}, {}, {}, {true, 100, false, false, 0, false}, true};

const std::vector<MarkCase> kMarkCases = {
    {"NothingMatchesLeavesNone",
     {{}, {Subj("Contains", "viagra", "No", "Yes")}, {}, {}},
     Row("hello", "joe@example.com"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[0] F[] H[]"},
    {"NothingMatchesKeepsOldMark",
     {{}, {Subj("Contains", "viagra", "No", "Yes")}, {}, {}},
     Row("hello", "joe@example.com", "5000", mmQuestion),
     kPlainHeaders,
     1,
     mmQuestion,
     "E[] S[0] F[] H[]"},
    {"EmptyListsNeverMatch", {}, Row("", ""), "", 1, mmNone, "E[] S[] F[] H[]"},
    {"AddressExceptionIsAPrefixTest",
     {{Exc("E-mail address", "Equals", "JOE@example.com", "No")},
      {Subj("Contains", "hello", "No", "Yes")}},
     Row("hello", "joe@example.com.au"),
     kPlainHeaders,
     1,
     mmException,
     "E[1] S[0] F[] H[]"},
    {"EmptyAddressExceptionAcceptsAll",
     {{Exc("E-mail address", "Equals", "", "No")}},
     Row("x", "who@where.example"),
     "",
     1,
     mmException,
     "E[1] S[] F[] H[]"},
    {"ExceptionGapIsSkipped",
     {{Exc("", "Equals", "", "No"), Exc("Domain name", "Equals", "EXAMPLE.com", "No")}},
     Row("x", "joe@example.com"),
     "",
     1,
     mmException,
     "E[0 1] S[] F[] H[]"},
    {"OnlyFirstMatchingExceptionCredited",
     {{Exc("Domain name", "Equals", "other.example", "No"),
       Exc("Domain name", "Equals", "example.com", "No"),
       Exc("E-mail address", "Equals", "joe", "No")}},
     Row("x", "joe@example.com"),
     "",
     1,
     mmException,
     "E[0 1 0] S[] F[] H[]"},
    {"SubjectExceptionRespectsCase",
     {{Exc("Subject", "Contains", "Invoice", "Yes")}},
     Row("your invoice", "a@b.example"),
     "",
     1,
     mmNone,
     "E[0] S[] F[] H[]"},
    {"SubjectExceptionUnknownConditionNeverMatches",
     {{Exc("Subject", "Is blank", "", "No")}},
     Row("", "a@b.example"),
     "",
     1,
     mmNone,
     "E[0] S[] F[] H[]"},
    {"ExceptionOverridesDeleteMark",
     {{Exc("Subject", "Starts with", "re:", "No")}, {Subj("Contains", "re", "No", "Yes")}},
     Row("RE: lunch", "a@b.example", "5000", mmDelete),
     "",
     1,
     mmException,
     "E[1] S[0] F[] H[]"},
    {"SizeEqualToSmallerLimitIsNotSmaller", kLimits100, Row("x", "a@b.example", "100"), "", 1,
     mmNone, "E[] S[] F[] H[]"},
    {"SizeOneBelowSmallerLimitIsSmaller", kLimits100, Row("x", "a@b.example", "99"), "", 1,
     mmQuestion, "E[] S[] F[] H[]"},
    {"SizeCheckMarkSkipsTheRuleLists",
     {{}, {Subj("Contains", "x", "No", "No")}, {}, {}, {true, 100, true, false, 0, false}},
     Row("x", "bad@evil.example", "10"),
     "",
     1,
     mmDelete,
     "E[] S[0] F[] H[]"},
    {"SizeLargerOnlyWhenGreater",
     {{}, {}, {}, {}, {false, 0, false, true, 1000, true}},
     Row("x", "a@b.example", "1001"),
     "",
     1,
     mmDelete,
     "E[] S[] F[] H[]"},
    {"SizePast32BitsIsLarger",
     {{}, {}, {}, {}, {false, 0, false, true, 1000, true}},
     Row("x", "a@b.example", "3000000000"),
     "",
     1,
     mmDelete,
     "E[] S[] F[] H[]"},
    {"SizeQuestionReplacesDelete", kLimits100, Row("x", "a@b.example", "5", mmDelete), "", 1,
     mmQuestion, "E[] S[] F[] H[]"},
    {"SizeNotANumberSkipsOnlySize",
     {{}, {Subj("Contains", "x", "No", "No")}, {}, {}, {true, 100, true, false, 0, false}},
     Row("x", "a@b.example", "12k"),
     "",
     1,
     mmQuestion,
     "E[] S[1] F[] H[]"},
    {"DeleteRowIsJudgedOnlyByExceptionsAndSize",
     {{}, {Subj("Contains", "x", "No", "No")}, {}, {Hdr("Contains", "X-Mailer", "No", "No")}},
     Row("x", "bad@evil.example", "5000", mmDelete),
     kPlainHeaders,
     1,
     mmDelete,
     "E[] S[0] F[] H[0]"},
    {"CheckMatchWinsOverEarlierQuestionMatch",
     {{},
      {Subj("Contains", "cheap", "No", "No"), Subj("Contains", "zzz", "No", "Yes"),
       Subj("Contains", "zzz", "No", "Yes"), Subj("Contains", "zzz", "No", "Yes"),
       Subj("Contains", "PILLS", "No", "Yes")}},
     Row("cheap pills", "a@b.example"),
     "",
     1,
     mmDelete,
     "E[] S[1 0 0 0 1] F[] H[]"},
    {"CheckMatchEndsEvaluation",
     {{},
      {Subj("Contains", "pills", "No", "Yes"), Subj("Contains", "pills", "No", "No")},
      {From("E-mail address", "Contains", "evil", "No")},
      {Hdr("Contains", "X-Mailer", "No", "No")}},
     Row("pills", "bad@evil.example"),
     kPlainHeaders,
     1,
     mmDelete,
     "E[] S[1 0] F[0] H[0]"},
    {"SubjectWalkEndsAtEmptyRow",
     {{},
      {Subj("Contains", "zzz", "No", "No"), Subj("", "", "", ""),
       Subj("Contains", "pills", "No", "Yes")}},
     Row("pills", "a@b.example"),
     "",
     1,
     mmNone,
     "E[] S[0 0 0] F[] H[]"},
    {"SubjectCaseSensitive",
     {{}, {Subj("Contains", "Pills", "Yes", "Yes"), Subj("Equals", "PILLS", "No", "No")}},
     Row("pills", "a@b.example"),
     "",
     1,
     mmQuestion,
     "E[] S[0 1] F[] H[]"},
    {"QuestionThenBlacklistIsKnownSpammer",
     {{}, {Subj("Is UPPERCASE", "", "", "No")}},
     Row("BUY", "anyone@spam.example"),
     "",
     1,
     mmKnownSpammer,
     "E[] S[1] F[] H[]"},
    {"BlacklistSwitchOff",
     {{}, {Subj("Is UPPERCASE", "", "", "No")}, {}, {}, {}, false},
     Row("BUY", "anyone@spam.example"),
     "",
     1,
     mmQuestion,
     "E[] S[1] F[] H[]"},
    {"SenderAllNumericLooksBeforeTheAt",
     {{}, {}, {From("E-mail address", "All numeric", "", "No")}},
     Row("x", "4325154@example.com"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[1] H[]"},
    {"SenderAllNumericOnDomainLooksAfterTheAt",
     {{}, {}, {From("Domain name", "All numeric", "", "Yes")}},
     Row("x", "4325154@example.com"),
     "",
     1,
     mmNone,
     "E[] S[] F[0] H[]"},
    {"SenderDomainIgnoresCase",
     {{}, {}, {From("Domain name", "Equals", "EXAMPLE.COM", "Yes")}},
     Row("x", "joe@Example.com"),
     "",
     1,
     mmDelete,
     "E[] S[] F[1] H[]"},
    {"SenderContainsTestsWholeAddress",
     {{}, {}, {From("E-mail address", "Contains", "joe@ex", "No")}},
     Row("x", "joe@example.com"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[1] H[]"},
    {"SenderUnknownConditionNeverMatches",
     {{}, {}, {From("E-mail address", "Looks odd", "", "Yes")}},
     Row("x", "joe@example.com"),
     "",
     1,
     mmNone,
     "E[] S[] F[0] H[]"},
    {"SenderUppercaseLooksBeforeTheAt",
     {{}, {}, {From("E-mail address", "Is UPPERCASE", "", "No")}},
     Row("x", "JOE@example.com"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[1] H[]"},
    {"SenderBlankTestsWholeAddress",
     {{}, {}, {From("E-mail address", "Is blank", "", "No")}},
     Row("x", "@example.com"),
     "",
     1,
     mmNone,
     "E[] S[] F[0] H[]"},
    {"SenderHalfNumeric",
     {{}, {}, {From("E-mail address", "50% numeric", "", "No")}},
     Row("x", "ab12@example.com"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[1] H[]"},
    {"SenderFirstCharNumeric",
     {{},
      {},
      {From("E-mail address", "First char numeric", "", "No"),
       From("Domain name", "First char numeric", "", "No")}},
     Row("x", "a1@9example.com"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[0 1] H[]"},
    {"SenderDomainStartsAndEndsWith",
     {{},
      {},
      {From("Domain name", "Starts with", "MAIL.", "No"),
       From("Domain name", "Ends with", ".EXAMPLE", "No"),
       From("Domain name", "Contains (whole word)", "mail", "No"),
       From("Domain name", "Contains", "joe", "No")}},
     Row("x", "joe@mail.example"),
     "",
     1,
     mmQuestion,
     "E[] S[] F[1 1 1 0] H[]"},
    {"SubjectBlankAndWholeWord",
     {{},
      {Subj("Is blank", "", "", "No"), Subj("Contains (whole word)", "PILL", "No", "No"),
       Subj("Contains (whole word)", "PILLS", "No", "No")}},
     Row("cheap pills!", "a@b.example"),
     "",
     1,
     mmQuestion,
     "E[] S[0 0 1] F[] H[]"},
    {"HeaderLineCountedOnceForTwoOccurrences",
     {{}, {}, {}, {Hdr("Contains", "spam", "No", "No")}},
     Row("x", "a@b.example"),
     "X-Flag: spam spam SPAM\r\nX-Other: none\r\nEnd\r\n",
     1,
     mmQuestion,
     "E[] S[] F[] H[1]"},
    {"HeaderPatternNeverSpansLines",
     {{},
      {},
      {},
      {Hdr("Contains", "Foo\nX-Mailer", "No", "Yes"), Hdr("Contains", "FooX-Mailer", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0 0]"},
    {"HeaderOneLineMessageTestsNothing",
     {{}, {}, {}, {Hdr("Contains", "X", "No", "Yes"), Hdr("Equals", "X", "No", "Yes")}},
     Row("x", "a@b.example"),
     "X\r\n",
     1,
     mmNone,
     "E[] S[] F[] H[0 0]"},
    {"HeaderEqualsAndEndsWithPerLine",
     {{},
      {},
      {},
      {Hdr("Equals", "x-mailer: foo", "No", "No"), Hdr("Ends with", ": Bar", "Yes", "No"),
       Hdr("Ends with", ": bar", "Yes", "No")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmQuestion,
     "E[] S[] F[] H[1 1 0]"},
    {"HeaderQuestionRuleCreditedPerLine",
     {{}, {}, {}, {Hdr("Contains", "x-mailer", "No", "No")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmQuestion,
     "E[] S[] F[] H[2]"},
    {"HeaderCheckRuleStopsAtFirstLine",
     {{}, {}, {}, {Hdr("Contains", "X-Mailer", "Yes", "Yes"), Hdr("Contains", "To:", "No", "No")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmDelete,
     "E[] S[] F[] H[1 0]"},
    {"HeaderLastLineNeverTested",
     {{}, {}, {}, {Hdr("Contains", "last line", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"HeaderStartsWithPerLine",
     {{}, {}, {}, {Hdr("Starts with", "x-mailer: b", "No", "No")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmQuestion,
     "E[] S[] F[] H[1]"},
    {"HeaderWalkGoesOnPastNonMatchingCheckRow",
     {{},
      {},
      {},
      {Hdr("Contains", "X-Mailer: Foo", "No", "No"), Hdr("Contains", "nowhere", "No", "Yes"),
       Hdr("Contains", "Subject: hi", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmDelete,
     "E[] S[] F[] H[1 0 1]"},
    {"ToRuleForOtherMailboxIgnored",
     {{}, {}, {}, {Hdr("To does not contain", "me@other.example - MailBox #2", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"ToRuleForThisMailboxMatches",
     {{}, {}, {}, {Hdr("To does not contain", "me@other.example - MailBox #2", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     2,
     mmDelete,
     "E[] S[] F[] H[1]"},
    {"ToRuleIgnoresCase",
     {{}, {}, {}, {Hdr("To does not contain", "ME@MINE.example - MailBox #1", "Yes", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"ToRuleWithoutToHeader",
     {{}, {}, {}, {Hdr("To does not contain", "me@other.example - MailBox #1", "No", "Yes")}},
     Row("x", "a@b.example"),
     "From: a@b.example\r\nX: y\r\n",
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"ToRuleMalformedNeverApplies",
     {{},
      {},
      {},
      {Hdr("To does not contain", "me@other.example - MailBox #", "No", "Yes"),
       Hdr("To does not contain", "me@other.example", "No", "Yes"),
       Hdr("To does not contain", "me@other.example - MailBox #1x", "No", "Yes")}},
     Row("x", "a@b.example"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0 0 0]"},
    {"ReplyToMismatch",
     {{}, {}, {}, {Hdr("Sender", "does not match Reply-to", "No", "No")}},
     Row("x", "joe@example.com"),
     "From: joe@example.com\r\nReply-To: other@else.example\r\nX: y\r\n",
     1,
     mmQuestion,
     "E[] S[] F[] H[1]"},
    {"ReplyToContainedIsNoMismatch",
     {{}, {}, {}, {Hdr("Sender", "does not match Reply-to", "No", "No")}},
     Row("x", "joe@example.com"),
     "From: Joe <JOE@example.com>\r\nReply-To: <joe@example.com>\r\nX: y\r\n",
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"ReplyToWithoutFromMatches",
     {{}, {}, {}, {Hdr("Sender", "does not match Reply-to", "No", "No")}},
     Row("x", ""),
     "Reply-To: other@else.example\r\nX: y\r\n",
     1,
     mmQuestion,
     "E[] S[] F[] H[1]"},
    {"NoReplyToNoMismatch",
     {{}, {}, {}, {Hdr("Sender", "does not match Reply-to", "No", "No")}},
     Row("x", "joe@example.com"),
     kPlainHeaders,
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
    {"SenderEqualsTo",
     {{}, {}, {}, {Hdr("Sender", "equals To field", "No", "Yes")}},
     Row("x", "me@mine.example"),
     "From: Me <me@mine.example>\r\nTo: \"Me\" <ME@mine.example>\r\nX: y\r\n",
     1,
     mmDelete,
     "E[] S[] F[] H[1]"},
    {"SenderEqualsToWithBrokenFrom",
     {{}, {}, {}, {Hdr("Sender", "equals To field", "No", "Yes")}},
     Row("x", "me"),
     "From: <me@mine.example\r\nTo: me@mine.example\r\nX: y\r\n",
     1,
     mmDelete,
     "E[] S[] F[] H[1]"},
    {"SenderEqualsToWithoutTo",
     {{}, {}, {}, {Hdr("Sender", "equals To field", "No", "Yes")}},
     Row("x", "me@mine.example"),
     "From: me@mine.example\r\nX: y\r\n",
     1,
     mmNone,
     "E[] S[] F[] H[0]"},
};

class MarkTable : public testing::TestWithParam<MarkCase> {};

TEST_P(MarkTable, MarkAndHits) {
    const MarkCase& c = GetParam();
    SpamSettings settings = MakeSettings(c.rules);
    const KnownSpammerList known = Blacklist();
    MessageEvaluator ev(settings, known);
    MessageRow row = c.row;
    ev.MarkForDeletion(row, MakeHeaders(c.headers), c.mailbox);
    EXPECT_EQ(row.mark, c.expected);
    EXPECT_EQ(Hits(settings), c.hits);
}

INSTANTIATE_TEST_SUITE_P(Evaluate, MarkTable, testing::ValuesIn(kMarkCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Evaluate, TwoEvaluationsCreditTwice) {
    SpamSettings settings = MakeSettings({{}, {Subj("Contains", "pills", "No", "No")}});
    const KnownSpammerList known;
    MessageEvaluator ev(settings, known);
    MessageRow row = Row("pills", "a@b.example");
    const TmsHeaders none;
    ev.MarkForDeletion(row, none, 1);
    ev.MarkForDeletion(row, none, 1);
    EXPECT_EQ(settings.SubjectRule.Cell(rulecol::Subject::Hits, 1), "2");
}

TEST(Evaluate, RowsTakeTheHeadersOfTheirRecord) {
    SpamSettings settings =
        MakeSettings({{}, {}, {}, {Hdr("Contains", "X-Spam: yes", "No", "Yes")}});
    const KnownSpammerList known;
    MessageEvaluator ev(settings, known);
    TmsRemoteInfo info;
    for (const char* text : {"X-Spam: no\r\nEnd\r\n", "X-Spam: yes\r\nEnd\r\n"}) {
        auto item = std::make_unique<TmsRemoteInfoItem>();
        item->Headers.LoadFromText(text);
        info.Add(std::move(item));
    }
    // The third row has no record yet and is judged without header lines.
    std::vector<MessageRow> rows = {Row("a", "a@b.example"), Row("b", "a@b.example"),
                                    Row("c", "a@b.example")};
    ev.MarkForDeletion(rows, info, 0, 1);
    EXPECT_EQ(rows[0].mark, mmNone);
    EXPECT_EQ(rows[1].mark, mmNone) << "only the given row is judged";
    ev.MarkForDeletion(rows, info, 7, 1);
    ev.MarkForDeletion(rows, info, -1, 1);
    EXPECT_EQ(rows[0].mark, mmNone);
    EXPECT_EQ(rows[1].mark, mmDelete);
    EXPECT_EQ(rows[2].mark, mmNone);
    EXPECT_EQ(settings.HeaderRule.Cell(rulecol::Header::Hits, 1), "1");
}

TEST(Evaluate, MarkedForDeletion) {
    EXPECT_TRUE(IsMarkedForDeletion(mmDelete));
    EXPECT_TRUE(IsMarkedForDeletion(mmKnownSpammer));
    EXPECT_FALSE(IsMarkedForDeletion(mmNone));
    EXPECT_FALSE(IsMarkedForDeletion(mmQuestion));
    EXPECT_FALSE(IsMarkedForDeletion(mmException));
}

struct ReasonCase {
    const char* name;
    Rules rules;
    MessageRow row;
    const char* headers;
    std::vector<std::string> reasons;
    MessageMark mark;
};

void PrintTo(const ReasonCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<ReasonCase> kReasonCases = {
    {"SubjectWithValue",
     {{}, {Subj("Contains", "free", "No", "Yes")}},
     Row("FREE stuff", "a@b.example"),
     "",
     {"Delete   :  Subject Contains \"free\" "},
     mmDelete},
    {"SubjectWithoutValue",
     {{}, {Subj("Is UPPERCASE", "", "", "No")}},
     Row("FREE", "a@b.example"),
     "",
     {"Question :  Subject Is UPPERCASE"},
     mmQuestion},
    {"SubjectCaseSensitive",
     {{}, {Subj("Ends with", "Now", "Yes", "No")}},
     Row("Buy Now", "a@b.example"),
     "",
     {"Question :  Subject Ends with \"Now\"  (Case Sensitive)"},
     mmQuestion},
    {"SenderWithoutValue",
     {{}, {}, {From("E-mail address", "All numeric", "", "No")}},
     Row("x", "123@b.example"),
     "",
     {"Question :  E-mail address All numeric"},
     mmQuestion},
    {"DomainException",
     {{Exc("Domain name", "Equals", "b.example", "Yes")}, {Subj("Contains", "x", "No", "Yes")}},
     Row("x", "a@b.example"),
     "",
     {"Exception :  Domain name Equals \"b.example\" "},
     mmException},
    {"SubjectException",
     {{Exc("Subject", "Contains (whole word)", "Lunch", "Yes")}},
     Row("Re: Lunch?", "a@b.example"),
     "",
     {"Exception :  Subject Contains (whole word) \"Lunch\"  (Case Sensitive)"},
     mmException},
    {"SizeLimit",
     {{}, {}, {}, {}, {true, 100, false, false, 0, false}},
     Row("x", "a@b.example", "42"),
     "",
     {"Question :  Size smaller than \"100\" "},
     mmQuestion},
    {"ReplyTo",
     {{}, {}, {}, {Hdr("Sender", "does not match Reply-to", "No", "Yes")}},
     Row("x", "f@y.example"),
     "From: F <f@y.example>\r\nReply-To: r@x.example\r\nX: y\r\n",
     {"Delete   :  Header Sender \"r@x.example does not match Reply-to f@y.example\" "},
     mmDelete},
    {"EqualsTo",
     {{}, {}, {}, {Hdr("Sender", "equals To field", "No", "No")}},
     Row("x", "f@y.example"),
     "From: F <f@y.example>\r\nTo: T <f@y.example>\r\nX: y\r\n",
     {"Question :  Header Sender \"f@y.example equals To field f@y.example\" "},
     mmQuestion},
    {"ToDoesNotContain",
     {{}, {}, {}, {Hdr("To does not contain", "me@mine.example - MailBox #1", "No", "No")}},
     Row("x", "f@y.example"),
     "To: Bob <bob@other.example>\r\nX: y\r\n",
     {"Question :  Header \"Bob <bob@other.example>\" To does not contain \"me@mine.example\" "},
     mmQuestion},
    {"HeaderLinePerMatch",
     {{}, {}, {}, {Hdr("Contains", "X-Mailer", "No", "No")}},
     Row("x", "f@y.example"),
     kPlainHeaders,
     {"Question :  Header Contains \"X-Mailer\" ", "Question :  Header Contains \"X-Mailer\" "},
     mmQuestion},
    {"BlacklistDomain",
     {},
     Row("x", "joe@spam.example"),
     "",
     {"Delete   :  Domain \"spam.example\" is on the KNOWN SPAMMER BLACKLIST (you may edit if "
      "this is in error)"},
     mmKnownSpammer},
    {"NoEarlyEnds",
     {{},
      {Subj("Contains", "pills", "No", "Yes"), Subj("Starts with", "cheap", "No", "No")},
      {From("E-mail address", "Equals", "bad@evil.example", "No")},
      {Hdr("Contains", "X-Mailer", "Yes", "Yes")},
      {true, 100, true, false, 0, false}},
     Row("cheap pills", "bad@evil.example", "10"),
     kPlainHeaders,
     {"Delete   :  Size smaller than \"100\" ", "Delete   :  Subject Contains \"pills\" ",
      "Question :  Subject Starts with \"cheap\" ",
      "Question :  E-mail address Equals \"bad@evil.example\" ",
      "Delete   :  Header Contains \"X-Mailer\"  (Case Sensitive)",
      "Delete   :  Header Contains \"X-Mailer\"  (Case Sensitive)",
      "Delete   :  E-mail \"bad@evil.example\" is on the KNOWN SPAMMER BLACKLIST (you may edit "
      "if this is in error)"},
     mmDelete},
};

class ReasonTable : public testing::TestWithParam<ReasonCase> {};

TEST_P(ReasonTable, LinesAndMarkWithoutHits) {
    const ReasonCase& c = GetParam();
    SpamSettings settings = MakeSettings(c.rules);
    const std::string before = Hits(settings);
    const KnownSpammerList known = Blacklist();
    MessageEvaluator ev(settings, known);
    MessageRow row = c.row;
    std::vector<std::string> reasons;
    ev.CollectReasons(row, MakeHeaders(c.headers), 1, reasons);
    EXPECT_EQ(reasons, c.reasons);
    EXPECT_EQ(row.mark, c.mark);
    EXPECT_EQ(Hits(settings), before);
}

INSTANTIATE_TEST_SUITE_P(Evaluate, ReasonTable, testing::ValuesIn(kReasonCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Evaluate, NormalModeRecordsNothing) {
    SpamSettings settings = MakeSettings({{}, {Subj("Contains", "pills", "No", "Yes")}});
    const KnownSpammerList known;
    MessageEvaluator ev(settings, known);
    MessageRow row = Row("pills", "a@b.example");
    std::vector<std::string> reasons;
    ev.CollectReasons(row, TmsHeaders{}, 1, reasons);
    ev.MarkForDeletion(row, TmsHeaders{}, 1);
    EXPECT_EQ(reasons.size(), 1u);
}

TEST(FormatReasonLine, Pieces) {
    EXPECT_EQ(FormatReasonLine(ReasonKind::Question, "Size", "larger than", "9", true),
              "Question :  Size larger than \"9\"  (Case Sensitive)");
    // Without a value there is no case text.
    EXPECT_EQ(FormatReasonLine(ReasonKind::Delete, "Subject", "Is blank", std::nullopt, true),
              "Delete   :  Subject Is blank");
    EXPECT_EQ(FormatReasonLine(ReasonKind::Exception, "Subject", "Equals", "", false),
              "Exception :  Subject Equals \"\" ");
}

struct ReportCase {
    const char* name;
    Rules rules;
    MessageRow row;
    std::vector<std::string> tail;  // the lines after the three heading lines
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<ReportCase> kReportCases = {
    {"NothingMatches",
     {{}, {Subj("Contains", "zzz", "No", "Yes")}},
     Row("hello", "a@b.example"),
     {std::string(kReportNothingMatched)}},
    {"UserMarked",
     {},
     Row("hello", "a@b.example", "10", mmDelete),
     {std::string(kReportNothingMatched), std::string(kReportUserMarked)}},
    {"UserUnmarked",
     {{}, {Subj("Contains", "hello", "No", "Yes")}},
     Row("hello", "a@b.example"),
     {"Delete   :  Subject Contains \"hello\" ", std::string(kReportUserUnmarked)}},
    {"QuestionRowGetsNoNote",
     {},
     Row("hello", "a@b.example", "10", mmQuestion),
     {std::string(kReportNothingMatched)}},
    {"QuestionMatchOnDeleteRowIsUserMarked",
     {{}, {Subj("Contains", "hello", "No", "No")}},
     Row("hello", "a@b.example", "10", mmDelete),
     {"Question :  Subject Contains \"hello\" ", std::string(kReportUserMarked)}},
    {"ExceptionIsTheOnlyReason",
     {{Exc("E-mail address", "Equals", "a@b", "No")},
      {Subj("Contains", "hello", "No", "Yes")},
      {From("E-mail address", "Contains", "a", "Yes")}},
     Row("hello", "a@b.example", "10", mmException),
     {"Exception :  E-mail address Equals \"a@b\" "}},
};

class ReportTable : public testing::TestWithParam<ReportCase> {};

TEST_P(ReportTable, Lines) {
    const ReportCase& c = GetParam();
    SpamSettings settings = MakeSettings(c.rules);
    const std::string before = Hits(settings);
    const KnownSpammerList known;
    MessageEvaluator ev(settings, known);
    const MessageRow row = c.row;
    const auto lines = ReasonsReport(ev, row, TmsHeaders{}, 1);
    std::vector<std::string> expected = {"Message from " + row.sender,
                                         "Subject of   " + row.subject, ""};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Hits(settings), before);
}

INSTANTIATE_TEST_SUITE_P(Evaluate, ReportTable, testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvane
