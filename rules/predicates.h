#pragma once

// The text tests every rule is decided by. Texts are 8-bit byte strings;
// ignoring case folds only the ASCII letters a to z, every other byte is
// compared as it is.
//
// Each pattern test comes in two forms:
//  - Contains(text, pattern, caseSensitive) and friends fold as needed and
//    allocate nothing;
//  - ContainsFolded(text, pattern) and friends compare the bytes exactly as
//    given. A caller judging one field against many rules folds the field
//    (and each pattern) once with AsciiUpper and uses these when case is
//    ignored, or passes the texts unchanged when case matters.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// The bytes that separate words, in this order.
inline constexpr std::string_view kWordDelimiters{"\t'\r\n ,./?;:`\"<>[]{}-=\\+|()%@&^$#!~*", 35};

constexpr bool IsDigitByte(char c) {
    return c >= '0' && c <= '9';
}
// Digits and underscore count as numeric.
constexpr bool IsNumericByte(char c) {
    return IsDigitByte(c) || c == '_';
}
bool IsWordDelimiter(char c);

// The number of digits and underscores in text.
std::size_t NumericCount(std::string_view text);
// text without its digits; underscores stay.
std::string RemoveDigits(std::string_view text);

// Pattern tests on bytes as given.
bool ContainsFolded(std::string_view text, std::string_view pattern);  // empty pattern: false
bool EqualsFolded(std::string_view text, std::string_view pattern);
bool StartsWithFolded(std::string_view text, std::string_view pattern);  // empty pattern: true
bool EndsWithFolded(std::string_view text, std::string_view pattern);    // empty pattern: true
bool ContainsWholeWordFolded(std::string_view text, std::string_view word);

// Pattern tests that fold both sides when case is ignored.
bool Contains(std::string_view text, std::string_view pattern, bool caseSensitive);
bool Equals(std::string_view text, std::string_view pattern, bool caseSensitive);
bool StartsWith(std::string_view text, std::string_view pattern, bool caseSensitive);
bool EndsWith(std::string_view text, std::string_view pattern, bool caseSensitive);
bool ContainsWholeWord(std::string_view text, std::string_view word, bool caseSensitive);

// Tests of the text alone; case plays no part.
bool IsBlank(std::string_view text);             // empty or only blank bytes
bool IsUppercase(std::string_view text);         // not blank and no byte a to z
bool IsAllNumeric(std::string_view text);        // true for the empty text
bool IsHalfNumeric(std::string_view text);       // numeric count >= length / 2
bool IsFirstCharNumeric(std::string_view text);  // first byte a digit

enum class Predicate {
    Contains,
    Equals,
    StartsWith,
    EndsWith,
    ContainsWholeWord,
    IsBlank,
    IsUppercase,
    AllNumeric,
    HalfNumeric,
    FirstCharNumeric,
};

// The keyword stored in the rule lists, e.g. "Contains (whole word)".
// Keywords are matched exactly, case and all.
std::optional<Predicate> PredicateFromKeyword(std::string_view keyword);
std::string_view PredicateKeyword(Predicate p);
// True for the five tests that take a pattern.
bool TakesPattern(Predicate p);

// One text in both forms the tests compare: as received, and ASCII
// upper-cased. IsUppercase needs the form as received; the pattern tests use
// the upper-cased form when case is ignored. Callers that know case matters
// may leave upper empty.
struct TextForms {
    std::string_view raw;
    std::string_view upper;
};

bool Matches(Predicate p, std::string_view text, std::string_view pattern, bool caseSensitive);
bool Matches(Predicate p, TextForms text, TextForms pattern, bool caseSensitive);
// An unknown keyword never matches.
bool MatchesKeyword(std::string_view keyword, std::string_view text, std::string_view pattern,
                    bool caseSensitive);

}  // namespace kelvane
