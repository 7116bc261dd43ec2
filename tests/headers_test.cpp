#include "mail/headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TmsHeaders Lines(const std::vector<std::string>& lines) {
    TmsHeaders h;
    for (const auto& line : lines)
        h.Add(line);
    return h;
}

template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// --- Loading ----------------------------------------------------------------

struct LoadCase {
    std::string name;
    std::string text;
    std::vector<std::string> lines;
};

class LoadFromTextTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadFromTextTest, SplitsAtEveryLineEndKind) {
    TmsHeaders h;
    h.Add("stale");
    h.LoadFromText(GetParam().text);
    EXPECT_EQ(h.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, LoadFromTextTest,
    ::testing::Values(LoadCase{"Empty", "", {}}, LoadCase{"CrLf", "a\r\nb", {"a", "b"}},
                      LoadCase{"MixedEnds", "a\nb\rc\r\nd", {"a", "b", "c", "d"}},
                      LoadCase{"FinalEndAddsNoLine", "a\r\n", {"a"}},
                      LoadCase{"EmptyLineKept", "a\r\n\r\nb\r\n", {"a", "", "b"}},
                      LoadCase{"LoneCrThenCrLf", "\r\r\n", {"", ""}},
                      LoadCase{"LfThenCrIsTwoEnds", "a\n\rb", {"a", "", "b"}},
                      LoadCase{"BlanksKeptExactly", " x \t\r\n\tc ", {" x \t", "\tc "}}),
    RowName<LoadCase>);

// --- GetHeaderValue ---------------------------------------------------------

struct ValueCase {
    std::string name;
    std::vector<std::string> lines;
    std::string field;
    std::string expected;
};

class GetHeaderValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(GetHeaderValueTest, Value) {
    const auto& p = GetParam();
    EXPECT_EQ(GetHeaderValue(Lines(p.lines), p.field), p.expected);
}

const std::string kLong(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Headers, GetHeaderValueTest,
    ::testing::Values(
        ValueCase{"NoBlankAfterColon", {"Subject:Hello"}, "Subject", "Hello"},
        ValueCase{"ValueTrimmed", {"Subject:   Hello  "}, "Subject", "Hello"},
        ValueCase{"NameCaseIgnored", {"SUBJECT:Hello"}, "subject", "Hello"},
        ValueCase{"NameWithColon", {"Subject: Hello"}, "Subject:", "Hello"},
        ValueCase{"LongerNamesDoNotMatch", {"Subject-Line: x", "X-Subject: y"}, "Subject", ""},
        ValueCase{"ColonInValueKept", {"Subject: Re: hi"}, "Subject", "Re: hi"},
        ValueCase{"FoldedOverThreeLines", {"Subject: a", " b", "\tc", "To: d"}, "Subject", "a b c"},
        ValueCase{"ContinuationOfEmptyFirstLine", {"Subject:", "  a  "}, "Subject", " a"},
        ValueCase{"FirstFieldWins", {"Received: one", "Received: two"}, "Received", "one"},
        ValueCase{"Missing", {"From: a"}, "Subject", ""}, ValueCase{"EmptyList", {}, "Subject", ""},
        ValueCase{"EmptyName", {": x", "Subject: y"}, "", ""},
        ValueCase{"BareColonName", {": x"}, ":", ""},
        ValueCase{"QuotedPrintableWord",
                  {"Subject: =?iso-8859-1?Q?Caf=E9?= time"},
                  "Subject",
                  "Caf\xE9time"},
        ValueCase{"UnderscoresOnceDecoded", {"Subject: a_b =?us-ascii?Q?x?="}, "Subject", "a b x"},
        ValueCase{"UnderscoresWithoutWord", {"Subject: a_b"}, "Subject", "a_b"},
        ValueCase{"UnterminatedWord", {"Subject: =?utf-8?Q?abc"}, "Subject", "=?utf-8?Q?abc"},
        ValueCase{"CutAt255", {"Subject: " + kLong}, "Subject", std::string(255, 'x')},
        ValueCase{"FoldedLongCutAt255",
                  {"Subject: a", " " + kLong, " " + kLong},
                  "Subject",
                  ("a " + kLong).substr(0, 255)},
        ValueCase{"ContentTypeWhole", {"Content-Type: " + kLong}, "content-type:", kLong},
        ValueCase{
            "XUidlUndecoded", {"X-UIDL: =?x?Q?a_b?= " + kLong}, "X-UIDL", "=?x?Q?a_b?= " + kLong},
        ValueCase{"BadBase64KeptAsIs",
                  {"Subject: =?utf-8?B?SGVs!G8=?= offer"},
                  "Subject",
                  "=?utf-8?B?SGVs!G8=?= offer"}),
    RowName<ValueCase>);

// --- DecodeEncodedWords -----------------------------------------------------

struct DecodeCase {
    std::string name;
    std::string text;
    std::string expected;
};

class DecodeEncodedWordsTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEncodedWordsTest, Decodes) {
    EXPECT_EQ(DecodeEncodedWords(GetParam().text), GetParam().expected);
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DecodeEncodedWordsTest,
    ::testing::Values(
        DecodeCase{"PlainText", "hello world", "hello world"},
        DecodeCase{"Base64", "=?utf-8?B?SGVsbG8=?=", "Hello"},
        DecodeCase{"Base64LowerLetter", "=?utf-8?b?SGVsbG8=?=", "Hello"},
        DecodeCase{"Base64NoPadding", "=?utf-8?B?SGk?=", "Hi"},
        DecodeCase{"Base64HighBytes", "=?x?B?/+8=?=", "\xFF\xEF"},
        DecodeCase{"QuotedPrintable", "=?iso-8859-1?Q?Caf=E9?=", "Caf\xE9"},
        DecodeCase{"QLowerHex", "=?x?Q?=e9?=", "\xE9"},
        DecodeCase{"QTextStartsWithEscape", "=?x?Q?=41B?=", "AB"},
        DecodeCase{"QBadEscapeKept", "=?x?Q?a=ZZ=?=", "a=ZZ="},
        DecodeCase{"QUnderscoreIsBlank", "=?x?Q?a_b?=", "a b"},
        DecodeCase{"AdjacentWordsJoin", "=?x?Q?a?= =?x?B?Yg==?=", "ab"},
        DecodeCase{"BlankBeforeWordKept", "x =?x?Q?a?=", "x a"},
        DecodeCase{"BlankAfterWordDropped", "=?x?Q?a?=  b ", "ab"},
        DecodeCase{"Unterminated", "x =?x?Q?abc", "x =?x?Q?abc"},
        DecodeCase{"UnterminatedAfterDecoded", "=?x?Q?a?= =?y", "a=?y"},
        DecodeCase{"EmptyCharset", "=?\?Q?a?=", "a"},
        DecodeCase{"InputCutAt255", kLong, std::string(255, 'x')},
        DecodeCase{"WordCutAt255IsUnterminated",
                   std::string(250, 'x') + "=?x?Q?abc?=", std::string(250, 'x') + "=?x?Q"},
        DecodeCase{"DecodedTextScannedAgain", "=?x?B?PT94P1E/YT89?=", "a"},
        // Words that cannot be decoded stay exactly as written, and the words
        // after them are still decoded.
        DecodeCase{"BadBase64Kept", "=?x?B?SG!s?= tail", "=?x?B?SG!s?= tail"},
        DecodeCase{"PaddingInsideBase64Kept", "=?x?B?QQ==QQ==?=", "=?x?B?QQ==QQ==?="},
        DecodeCase{"BadBase64ThenGood", "=?x?B?*?= =?x?Q?o_k?=", "=?x?B?*?= o k"},
        DecodeCase{"GoodThenBadBase64", "=?x?Q?a?= =?x?B?*?=", "a=?x?B?*?="},
        DecodeCase{"UnknownEncodingKept", "=?x?X?abc?= =?x?Q?d?=", "=?x?X?abc?= d"},
        DecodeCase{"NoCharsetSeparatorKept", "=?abc?=", "=?abc?="},
        DecodeCase{"LetterWithoutQuestionMarkKept", "=?x?Qab?=", "=?x?Qab?="},
        DecodeCase{"ManyBadWordsEnd", Repeat("=?x?Z?a?=", 28), Repeat("=?x?Z?a?=", 28)}),
    RowName<DecodeCase>);

TEST(DecodeEncodedWords, NeverThrowsOnBrokenWords) {
    for (const char* text : {"=?", "=?=", "=?\?=", "?=", "=?B?=", "=?x?B?\?=", "=?x?B?====?=",
                             "=?x?Q?=?=", "=?x?Q?=4?=", "=?x?B?A?="}) {
        EXPECT_NO_THROW(DecodeEncodedWords(text)) << text;
    }
}

// --- Addresses --------------------------------------------------------------

struct AddressCase {
    std::string name;
    std::string text;
    std::string address;
    std::string display;
    bool fails = false;
};

class ParseMailAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ParseMailAddressTest, Splits) {
    const auto& p = GetParam();
    TmsMailAddress a{"old name", "old address"};
    if (p.fails) {
        EXPECT_THROW(ParseMailAddress(p.text, a), AddressParseError);
        return;
    }
    ParseMailAddress(p.text, a);
    EXPECT_EQ(a.Address, p.address);
    EXPECT_EQ(a.Name, p.display);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ParseMailAddressTest,
    ::testing::Values(AddressCase{"NameAndAngle", "Joe Bloggs <jb>", "jb", "Joe Bloggs"},
                      AddressCase{"QuotedName", "\"Joe Bloggs\" <jb>", "jb", "Joe Bloggs"},
                      AddressCase{"AngleOnly", "<jb>", "jb", ""},
                      AddressCase{"NameAfterAngle", "<jb> Joe", "jb", "Joe"},
                      AddressCase{"QuotesInsideAngle", "< \"jb\" >", "jb", ""},
                      AddressCase{"Parenthesis", "jb (Joe)", "jb", "Joe"},
                      AddressCase{"ParenthesisUnclosed", "jb (Joe", "jb", "Jo"},
                      AddressCase{"ParenthesisLast", "jb (", "jb", ""},
                      AddressCase{"BareAddress", "jb", "jb", ""},
                      AddressCase{"BareAddressUntouched", " \"jb\" ", " \"jb\" ", ""},
                      AddressCase{"Empty", "", "", ""},
                      AddressCase{"AddressCutAt255", "<" + kLong + ">", std::string(255, 'x'), ""},
                      AddressCase{"NameCutAt255", kLong + " <jb>", "jb", std::string(255, 'x')},
                      AddressCase{"NoClosingAngle", "Joe <jb", "", "", true},
                      AddressCase{"ClosingAngleFirst", "a> b <c>", "", "", true}),
    RowName<AddressCase>);

TEST(ParseMailAddress, ErrorIsAKelvaneErrorWithItsText) {
    try {
        SplitMailAddress("Joe <jb");
        FAIL() << "no error";
    } catch (const KelvaneError& e) {
        EXPECT_STREQ(e.what(), "Unable to parse email address");
    }
}

TEST(StripQuotes, TrimsThenStripsEveryOuterQuote) {
    EXPECT_EQ(StripQuotes("  \"\"Joe\"  "), "Joe");
    EXPECT_EQ(StripQuotes("\" Joe \""), " Joe ");
    EXPECT_EQ(StripQuotes("a\"b"), "a\"b");
    EXPECT_EQ(StripQuotes("\"\"\""), "");
}

// --- Dates ------------------------------------------------------------------

struct DateCase {
    std::string name;
    std::string text;
    DateTimeParts when;  // Year 0: the text is unreadable
    std::string rest;
};

class ParseMailDateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(ParseMailDateTest, Reads) {
    const auto& p = GetParam();
    const MailDate d = ParseMailDate(p.text);
    if (p.when.Year == 0) {
        EXPECT_EQ(d.Value, 0.0);
        EXPECT_EQ(d.Rest, "");
        return;
    }
    const auto parts = DecodeDateTime(d.Value);
    ASSERT_TRUE(parts.has_value()) << d.Value;
    EXPECT_EQ(parts->Year, p.when.Year);
    EXPECT_EQ(parts->Month, p.when.Month);
    EXPECT_EQ(parts->Day, p.when.Day);
    EXPECT_EQ(parts->Hour, p.when.Hour);
    EXPECT_EQ(parts->Minute, p.when.Minute);
    EXPECT_EQ(parts->Second, p.when.Second);
    EXPECT_EQ(d.Rest, p.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ParseMailDateTest,
    ::testing::Values(
        DateCase{"Rfc822", "Tue, 5 Jan 99 10:20:30 +0100", {1999, 1, 5, 10, 20, 30}, "+0100"},
        DateCase{"FourDigitYearLowerCase",
                 "tue, 05 jan 2001 23:59:59 gmt",
                 {2001, 1, 5, 23, 59, 59},
                 "GMT"},
        DateCase{"ZoneWithComment",
                 "Fri, 7 Sep 2001 08:00:00 -0500 (EST)",
                 {2001, 9, 7, 8, 0, 0},
                 "-0500 (EST)"},
        DateCase{"Quoted", "\"5 Mar 2001 10:00\"", {2001, 3, 5, 10, 0, 0}, ""},
        DateCase{"HourOneDigit", "5 Jan 2001 9:05", {2001, 1, 5, 9, 5, 0}, ""},
        DateCase{"HourOneDigitSeconds", "5 Jan 2001 9:05:07", {2001, 1, 5, 9, 5, 7}, ""},
        DateCase{"TimeTrailingComma", "5 Jan 2001 10:00, +0000", {2001, 1, 5, 10, 0, 0}, "+0000"},
        DateCase{"TimeOutOfRange", "5 Jan 2001 25:99", {2001, 1, 5, 0, 0, 0}, ""},
        DateCase{"SecondsOutOfRange", "5 Jan 2001 10:00:60 Z", {2001, 1, 5, 0, 0, 0}, "Z"},
        DateCase{"MinutesOneDigit", "5 Jan 2001 10:5", {2001, 1, 5, 0, 0, 0}, ""},
        DateCase{"NoTime", "5 Jan 2001", {2001, 1, 5, 0, 0, 0}, ""},
        DateCase{"Year50", "1 Jan 50 00:00", {2050, 1, 1, 0, 0, 0}, ""},
        DateCase{"Year51", "1 Jan 51 00:00", {1951, 1, 1, 0, 0, 0}, ""},
        DateCase{"Year0", "1 Jan 00 00:00", {2000, 1, 1, 0, 0, 0}, ""},
        DateCase{"Year100StaysAsIs", "1 Jan 100 12:00", {100, 1, 1, 12, 0, 0}, ""},
        DateCase{"LeapDay", "29 Feb 2000 06:00", {2000, 2, 29, 6, 0, 0}, ""},
        DateCase{"MonthFoundAnywhere", "5 Dec 2001 10:00 (JUNK)", {2001, 6, 5, 10, 0, 0}, "(JUNK)"},
        DateCase{"NoLeapDay1900", "29 Feb 1900 06:00", {}, ""},
        DateCase{"Feb31", "Tue, 31 Feb 2001 10:00:00", {}, ""},
        DateCase{"Words", "yesterday", {}, ""}, DateCase{"Empty", "", {}, ""},
        DateCase{"OnlyQuotes", "\"\"", {}, ""}, DateCase{"DigitIsLast", "Tue, 5", {}, ""},
        DateCase{"NoMonth", "5 Foo 2001 10:00", {}, ""},
        DateCase{"DayNotNumber", "5x Jan 2001 10:00", {}, ""},
        DateCase{"DashedDate", "5-Jan-2001", {}, ""},
        DateCase{"DayOverflows", "99999999999 Jan 2001", {}, ""},
        DateCase{"NoYear", "5 Jan", {}, ""}, DateCase{"YearNotNumber", "5 Jan 2001x 10:00", {}, ""},
        DateCase{"YearTooLarge", "5 Jan 10000 10:00", {}, ""}),
    RowName<DateCase>);

TEST(DateTimeValue, MatchesTheDayCountFrom1899_12_30) {
    EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDateTime(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 18), 36526.75);
    // Before day 0 the time of day counts away from zero.
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
    const auto p = DecodeDateTime(-1.25);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Day, 29);
    EXPECT_EQ(p->Hour, 6);
    EXPECT_FALSE(EncodeDateTime(0, 1, 1));
    EXPECT_FALSE(EncodeDateTime(2001, 13, 1));
    EXPECT_FALSE(DecodeDateTime(1e9));
    EXPECT_FALSE(DecodeDateTime(std::nan("")));
}

TEST(DateTimeValue, RoundTripsThroughTheCalendar) {
    for (const DateTimeParts& d : {DateTimeParts{1, 1, 1, 0, 0, 0},
                                   {1600, 2, 29, 12, 30, 1},
                                   {1970, 1, 1, 0, 0, 1},
                                   {2024, 12, 31, 23, 59, 59},
                                   {9999, 12, 31, 23, 59, 59}}) {
        const auto v = EncodeDateTime(d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second);
        ASSERT_TRUE(v);
        const auto back = DecodeDateTime(*v);
        ASSERT_TRUE(back);
        EXPECT_EQ(std::vector<int>(
                      {back->Year, back->Month, back->Day, back->Hour, back->Minute, back->Second}),
                  std::vector<int>({d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second}));
    }
}

// --- Editing the header list ------------------------------------------------

TEST(RemoveHeader, RemovesFirstFieldWithItsContinuations) {
    TmsHeaders h = Lines({"Received: a", " b", "\tc", "Subject: s", "received: d", " e"});
    RemoveHeader(h, "RECEIVED");
    EXPECT_THAT(h.Lines(), ElementsAre("Subject: s", "received: d", " e"));
    RemoveHeader(h, "Missing");
    RemoveHeader(h, "");
    EXPECT_EQ(h.Count(), 3u);
}

TEST(CutHeadersAtBody, DropsFirstEmptyLineAndAfter) {
    TmsHeaders h = Lines({"A: 1", " ", "B: 2", "", "body", "", "."});
    CutHeadersAtBody(h);
    EXPECT_THAT(h.Lines(), ElementsAre("A: 1", " ", "B: 2"));
    CutHeadersAtBody(h);
    EXPECT_EQ(h.Count(), 3u);

    TmsHeaders bodyOnly = Lines({"", "A: 1"});
    CutHeadersAtBody(bodyOnly);
    EXPECT_TRUE(bodyOnly.Empty());
}

TEST(GetHeaderAddresses, SplitsAtUnquotedCommasOfEveryField) {
    const TmsHeaders h = Lines({"To: \"Bloggs, Joe\" <jb@x>, ann@y,", "  =?x?Q?Bob_B?= <b@z>",
                                "Subject: hi", "TO: ,c@w,, ", "Cc: d@v"});
    std::vector<std::string> list = {"stale"};
    GetHeaderAddresses(h, "to", list);
    EXPECT_THAT(list, ElementsAre("\"Bloggs, Joe\" <jb@x>", "ann@y", "Bob B<b@z>", "c@w"));
}

TEST(GetHeaderAddresses, MatchingLineWithoutColonEndsTheScan) {
    const TmsHeaders h = Lines({"Cc: a@x", "Subject: s", "Cc b@y", "Cc: c@z"});
    std::vector<std::string> list;
    GetHeaderAddresses(h, "Cc", list);
    EXPECT_THAT(list, ElementsAre("a@x"));
    GetHeaderAddresses(h, "", list);
    EXPECT_THAT(list, IsEmpty());
}

TEST(GetHeaderAddresses, UnbalancedQuoteProtectsTheRest) {
    const TmsHeaders h = Lines({"To: \"a, b, c"});
    std::vector<std::string> list;
    GetHeaderAddresses(h, "To", list);
    EXPECT_THAT(list, ElementsAre("\"a, b, c"));
}

// --- Records ----------------------------------------------------------------

TEST(TmsRemoteInfo, OwnsItemsInOrder) {
    TmsRemoteInfo info;
    for (std::int32_t size : {10, 20}) {
        auto item = std::make_unique<TmsRemoteInfoItem>();
        item->Size = size;
        info.Add(std::move(item));
    }
    ASSERT_EQ(info.Count(), 2u);
    EXPECT_EQ(info.Item(1).Size, 20);
    EXPECT_FALSE(info[0].DeleteMark);
    EXPECT_THROW(info.Item(2), KelvaneError);
    EXPECT_THROW(info.Add(nullptr), KelvaneError);
    info.Clear();
    EXPECT_TRUE(info.Empty());
}

TEST(TmsHeaders, OutOfRangeAccessIsAnError) {
    TmsHeaders h = Lines({"a"});
    EXPECT_THROW(h.Line(1), KelvaneError);
    EXPECT_THROW(h.Delete(1), KelvaneError);
    EXPECT_THROW(h.Delete(0, 2), KelvaneError);
    h.Delete(0);
    EXPECT_TRUE(h.Empty());
}

}  // namespace
}  // namespace kelvane
