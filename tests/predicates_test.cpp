#include "rules/predicates.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"

namespace kelvane {
namespace {

using namespace std::string_view_literals;

struct PatternCase {
    const char* name;
    Predicate predicate;
    std::string text;
    std::string pattern;
    bool caseSensitive;
    bool expected;
};

// Failures name the row rather than dumping its bytes.
void PrintTo(const PatternCase& c, std::ostream* os) {
    *os << c.name;
}

std::string PrintPatternCase(const testing::TestParamInfo<PatternCase>& info) {
    return info.param.name;
}

class PatternPredicate : public testing::TestWithParam<PatternCase> {};

// Every row goes through the three ways the rule engine can reach a test, so
// a folded shortcut cannot drift from the plain form.
TEST_P(PatternPredicate, MatchesInEveryForm) {
    const PatternCase& c = GetParam();
    EXPECT_EQ(Matches(c.predicate, c.text, c.pattern, c.caseSensitive), c.expected);
    const std::string upperText = AsciiUpper(c.text), upperPattern = AsciiUpper(c.pattern);
    EXPECT_EQ(Matches(c.predicate, TextForms{c.text, upperText}, TextForms{c.pattern, upperPattern},
                      c.caseSensitive),
              c.expected);
    EXPECT_EQ(MatchesKeyword(PredicateKeyword(c.predicate), c.text, c.pattern, c.caseSensitive),
              c.expected);
}

const std::string k255(255, 'x');
const std::string k256(256, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rows, PatternPredicate,
    testing::Values(
        // Contains
        PatternCase{"ContainsFoldedUpper", Predicate::Contains, "FREE offer", "free", false, true},
        PatternCase{"ContainsInsideWord", Predicate::Contains, "Carefree", "free", false, true},
        PatternCase{"ContainsAtStart", Predicate::Contains, "freedom", "free", false, true},
        PatternCase{"ContainsCaseMatters", Predicate::Contains, "FREE offer", "free", true, false},
        PatternCase{"ContainsEmptyPattern", Predicate::Contains, "abc", "", false, false},
        PatternCase{"ContainsEmptyBoth", Predicate::Contains, "", "", true, false},
        PatternCase{"ContainsLongerPattern", Predicate::Contains, "fre", "free", false, false},
        PatternCase{"ContainsAtEnd", Predicate::Contains, "xxfrEe", "FREE", false, true},
        PatternCase{"ContainsHighBytesNotFolded", Predicate::Contains, "caf\xe9", "CAF\xc9", false,
                    false},
        // Equals
        PatternCase{"EqualsIgnoringCase", Predicate::Equals, "Hello", "HELLO", false, true},
        PatternCase{"EqualsCaseMatters", Predicate::Equals, "Hello", "HELLO", true, false},
        PatternCase{"EqualsPrefixOnly", Predicate::Equals, "Hello", "Hell", false, false},
        PatternCase{"EqualsBothEmpty", Predicate::Equals, "", "", true, true},
        PatternCase{"EqualsAtAndBracket", Predicate::Equals, "@", "`", false, false},
        // Starts with
        PatternCase{"StartsEmptyPattern", Predicate::StartsWith, "abc", "", true, true},
        PatternCase{"StartsEmptyPatternEmptyText", Predicate::StartsWith, "", "", false, true},
        PatternCase{"StartsIgnoringCase", Predicate::StartsWith, "Hello world", "HELLO", false,
                    true},
        PatternCase{"StartsCaseMatters", Predicate::StartsWith, "Hello world", "HELLO", true,
                    false},
        PatternCase{"StartsTextShorter", Predicate::StartsWith, "ab", "abc", false, false},
        // Ends with
        PatternCase{"EndsEmptyPattern", Predicate::EndsWith, "abc", "", true, true},
        PatternCase{"EndsIgnoringCase", Predicate::EndsWith, "mail@Spam.COM", "spam.com", false,
                    true},
        PatternCase{"EndsCaseMatters", Predicate::EndsWith, "mail@Spam.COM", "spam.com", true,
                    false},
        PatternCase{"EndsTextShorter", Predicate::EndsWith, "om", "com", false, false},
        PatternCase{"EndsPattern255", Predicate::EndsWith, "a" + k255, k255, true, true},
        PatternCase{"EndsPattern256NeverMatches", Predicate::EndsWith, k256, k256, true, false},
        // Whole word
        PatternCase{"WordFoldedUpper", Predicate::ContainsWholeWord, "FREE offer", "free", false,
                    true},
        PatternCase{"WordBeforeBang", Predicate::ContainsWholeWord, "get it free!", "free", false,
                    true},
        PatternCase{"WordInsideLonger", Predicate::ContainsWholeWord, "Carefree", "free", false,
                    false},
        PatternCase{"WordPrefixOfLonger", Predicate::ContainsWholeWord, "freedom", "free", false,
                    false},
        PatternCase{"WordLaterPiece", Predicate::ContainsWholeWord, "freedom is free", "free",
                    false, true},
        PatternCase{"WordCaseMatters", Predicate::ContainsWholeWord, "FREE offer", "free", true,
                    false},
        PatternCase{"WordWithSpaceNever", Predicate::ContainsWholeWord, "make money fast",
                    "make money", false, false},
        PatternCase{"WordWithHyphenNever", Predicate::ContainsWholeWord, "a well-known name",
                    "well-known", false, false},
        PatternCase{"WordAfterHyphen", Predicate::ContainsWholeWord, "a well-known name", "known",
                    false, true},
        PatternCase{"WordUnderscoreJoins", Predicate::ContainsWholeWord, "free_stuff", "free",
                    false, false},
        PatternCase{"WordHighByteJoins", Predicate::ContainsWholeWord, "free\xa0stuff", "free",
                    false, false},
        PatternCase{"WordWholeText", Predicate::ContainsWholeWord, "free", "FREE", false, true},
        PatternCase{"WordEmptyText", Predicate::ContainsWholeWord, "", "free", false, false},
        PatternCase{"WordEmptyWord", Predicate::ContainsWholeWord, "free", "", false, false},
        // Backspace is blank but no delimiter: the blank test alone refuses it.
        PatternCase{"WordBlankWord", Predicate::ContainsWholeWord, "x \b y", "\b", true, false},
        PatternCase{"WordBlankText", Predicate::ContainsWholeWord, "\b", "\b", true, false},
        PatternCase{"WordNotBlankTab", Predicate::ContainsWholeWord, "\tx\b", "x\b", true, true}),
    PrintPatternCase);

struct TextCase {
    const char* name;
    Predicate predicate;
    std::string text;
    bool expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

std::string PrintTextCase(const testing::TestParamInfo<TextCase>& info) {
    return info.param.name;
}

class TextPredicate : public testing::TestWithParam<TextCase> {};

TEST_P(TextPredicate, MatchesInEveryForm) {
    const TextCase& c = GetParam();
    for (bool caseSensitive : {false, true}) {
        SCOPED_TRACE(caseSensitive ? "case sensitive" : "case ignored");
        EXPECT_EQ(Matches(c.predicate, c.text, "ignored", caseSensitive), c.expected);
        // The upper-cased form must not be used: it would make every text
        // upper case.
        const std::string upper = AsciiUpper(c.text);
        EXPECT_EQ(Matches(c.predicate, TextForms{c.text, upper}, TextForms{}, caseSensitive),
                  c.expected);
        EXPECT_EQ(MatchesKeyword(PredicateKeyword(c.predicate), c.text, "", caseSensitive),
                  c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TextPredicate,
    testing::Values(TextCase{"BlankEmpty", Predicate::IsBlank, "", true},
                    TextCase{"BlankSpacesAndCrLf", Predicate::IsBlank, "  \r\n \r\n", true},
                    TextCase{"BlankBackspace", Predicate::IsBlank, "\b", true},
                    TextCase{"BlankNotTab", Predicate::IsBlank, "\t", false},
                    TextCase{"BlankNotLetter", Predicate::IsBlank, "  a ", false},
                    TextCase{"UpperShouting", Predicate::IsUppercase, "WIN $1000 NOW!!", true},
                    TextCase{"UpperMixed", Predicate::IsUppercase, "Win $1000", false},
                    TextCase{"UpperNoLetters", Predicate::IsUppercase, "$$$ 100", true},
                    TextCase{"UpperDigitsOnly", Predicate::IsUppercase, "2024", true},
                    TextCase{"UpperEmpty", Predicate::IsUppercase, "", false},
                    TextCase{"UpperBlank", Predicate::IsUppercase, " \r\n\b", false},
                    TextCase{"UpperTabOnly", Predicate::IsUppercase, "\t", true},
                    TextCase{"UpperAccentedLower", Predicate::IsUppercase, "CAF\xe9 \xe0 LA", true},
                    TextCase{"UpperLastByteLower", Predicate::IsUppercase, "ABCz", false},
                    TextCase{"AllNumericEmpty", Predicate::AllNumeric, "", true},
                    TextCase{"AllNumericUnderscore", Predicate::AllNumeric, "12_34", true},
                    TextCase{"AllNumericDigits", Predicate::AllNumeric, "4325154", true},
                    TextCase{"AllNumericMixed", Predicate::AllNumeric, "432ab43", false},
                    TextCase{"AllNumericSpace", Predicate::AllNumeric, "12 34", false},
                    TextCase{"HalfEmpty", Predicate::HalfNumeric, "", true},
                    TextCase{"HalfOneLetter", Predicate::HalfNumeric, "a", true},
                    TextCase{"HalfTwoLetters", Predicate::HalfNumeric, "ab", false},
                    TextCase{"HalfTenWithFive", Predicate::HalfNumeric, "12345abcde", true},
                    TextCase{"HalfTenWithFour", Predicate::HalfNumeric, "1234abcdef", false},
                    TextCase{"HalfNineWithFour", Predicate::HalfNumeric, "1234abcde", true},
                    TextCase{"HalfNineWithThree", Predicate::HalfNumeric, "123abcdef", false},
                    TextCase{"HalfMixedSeven", Predicate::HalfNumeric, "432ab43", true},
                    TextCase{"HalfUnderscores", Predicate::HalfNumeric, "__ab", true},
                    TextCase{"FirstDigit", Predicate::FirstCharNumeric, "1abc", true},
                    TextCase{"FirstUnderscore", Predicate::FirstCharNumeric, "_123", false},
                    TextCase{"FirstEmpty", Predicate::FirstCharNumeric, "", false},
                    TextCase{"FirstLetter", Predicate::FirstCharNumeric, "a1", false},
                    TextCase{"FirstSpace", Predicate::FirstCharNumeric, " 1", false}),
    PrintTextCase);

TEST(NumericHelpers, CountAndRemoval) {
    EXPECT_EQ(NumericCount(""), 0u);
    EXPECT_EQ(NumericCount("a1_2 \xb2"), 3u);
    EXPECT_EQ(RemoveDigits("a1_2b9"), "a_b");
    EXPECT_EQ(RemoveDigits("0123456789"), "");
}

TEST(WordDelimiters, ExactlyTheThirtyFiveBytes) {
    int count = 0;
    for (int b = 0; b < 256; ++b)
        if (IsWordDelimiter(static_cast<char>(b))) ++count;
    EXPECT_EQ(count, 35);
    for (char c : "_\b\x7f\xa0"sv)
        EXPECT_FALSE(IsWordDelimiter(c)) << int(c);
}

TEST(WordDelimiters, EachSeparatesWords) {
    for (char d : kWordDelimiters) {
        SCOPED_TRACE(testing::Message() << "delimiter " << int(d));
        const std::string text = std::string("x") + d + "free" + d + "y";
        EXPECT_TRUE(ContainsWholeWord(text, "FREE", false));
        const std::string word = std::string("fr") + d + "ee";
        EXPECT_FALSE(ContainsWholeWord(word, word, true));
    }
}

TEST(Keywords, StoredTextsRoundTrip) {
    const std::vector<std::string_view> keywords = {
        "Contains", "Equals",       "Starts with", "Ends with",   "Contains (whole word)",
        "Is blank", "Is UPPERCASE", "All numeric", "50% numeric", "First char numeric"};
    for (std::string_view k : keywords) {
        SCOPED_TRACE(k);
        const auto p = PredicateFromKeyword(k);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(PredicateKeyword(*p), k);
    }
}

TEST(Keywords, UnknownNeverMatches) {
    // Text and pattern that every known pattern test would accept.
    for (std::string_view k : {""sv, "contains"sv, "Contains "sv, "Equals (exact match)"sv,
                               "Is blank or empty"sv, "To does not contain"sv}) {
        SCOPED_TRACE(k);
        EXPECT_FALSE(PredicateFromKeyword(k).has_value());
        EXPECT_FALSE(MatchesKeyword(k, "abc", "abc", false));
    }
}

// The whole-word test exactly as its rule reads: copy, replace delimiters by
// TAB, append a TAB, cut and compare the pieces.
bool ReferenceWholeWord(std::string text, std::string word, bool caseSensitive) {
    if (IsBlank(text) || IsBlank(word)) return false;
    if (!caseSensitive) {
        text = AsciiUpper(text);
        word = AsciiUpper(word);
    }
    if (text.find(word) == std::string::npos) return false;
    for (char& c : text)
        if (kWordDelimiters.find(c) != std::string_view::npos) c = '\t';
    text += '\t';
    std::size_t start = 0;
    for (std::size_t tab; (tab = text.find('\t', start)) != std::string::npos; start = tab + 1)
        if (tab > start && text.compare(start, tab - start, word) == 0) return true;
    return false;
}

std::string RandomText(std::mt19937& rng, std::size_t maxLength) {
    static constexpr std::string_view alphabet = "aAbB \t\b\r\n-_@\xe9";
    std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(rng), ' ');
    for (char& c : s)
        c = alphabet[std::uniform_int_distribution<std::size_t>(0, 12)(rng)];
    return s;
}

TEST(WholeWord, AgreesWithTheLiteralAlgorithm) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 50000; ++i) {
        const std::string text = RandomText(rng, 12);
        const std::string word = RandomText(rng, 3);
        for (bool cs : {false, true}) {
            ASSERT_EQ(ContainsWholeWord(text, word, cs), ReferenceWholeWord(text, word, cs))
                << testing::PrintToString(text) << " / " << testing::PrintToString(word) << " "
                << cs;
        }
    }
}

// The case-ignoring forms compare on the fly; they must agree with folding
// both texts first.
TEST(PatternPredicates, IgnoringCaseEqualsFoldingFirst) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = RandomText(rng, 8), pattern = RandomText(rng, 3);
        const std::string ut = AsciiUpper(text), up = AsciiUpper(pattern);
        for (Predicate p : {Predicate::Contains, Predicate::Equals, Predicate::StartsWith,
                            Predicate::EndsWith, Predicate::ContainsWholeWord}) {
            ASSERT_EQ(Matches(p, text, pattern, false), Matches(p, ut, up, true))
                << PredicateKeyword(p) << ": " << testing::PrintToString(text) << " / "
                << testing::PrintToString(pattern);
        }
    }
}

}  // namespace
}  // namespace kelvane
