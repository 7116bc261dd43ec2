#include "rules/predicates.h"

#include <array>

#include "base/text.h"

namespace kelvane {

namespace {

constexpr std::array<bool, 256> MakeDelimiterTable() {
    std::array<bool, 256> table{};
    for (char c : kWordDelimiters)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 256> kDelimiterTable = MakeDelimiterTable();

// Byte equality with and without case folding, so each test is written once
// and the case-ignoring forms need no folded copies.
struct ExactEq {
    bool operator()(char a, char b) const { return a == b; }
};
struct FoldEq {
    bool operator()(char a, char b) const { return AsciiUpper(a) == AsciiUpper(b); }
};

template <class Eq>
bool SameBytes(std::string_view a, std::string_view b, Eq eq) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!eq(a[i], b[i])) return false;
    return true;
}

template <class Eq>
bool ContainsWith(std::string_view text, std::string_view pattern, Eq eq) {
    if (pattern.empty() || pattern.size() > text.size()) return false;
    const std::size_t last = text.size() - pattern.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (!eq(text[i], pattern[0])) continue;
        if (SameBytes(text.substr(i, pattern.size()), pattern, eq)) return true;
    }
    return false;
}

template <class Eq>
bool StartsWithWith(std::string_view text, std::string_view pattern, Eq eq) {
    return text.size() >= pattern.size() && SameBytes(text.substr(0, pattern.size()), pattern, eq);
}

// The compared tail is at most 255 bytes long, so a longer pattern never
// matches.
constexpr std::size_t kMaxTail = 255;

template <class Eq>
bool EndsWithWith(std::string_view text, std::string_view pattern, Eq eq) {
    if (pattern.size() > kMaxTail || text.size() < pattern.size()) return false;
    return SameBytes(text.substr(text.size() - pattern.size()), pattern, eq);
}

// The whole-word rule is: both texts not blank, then replace every delimiter
// of the text by TAB, append a TAB, cut at the TABs and look for a non-empty
// piece equal to the word. Scanning the runs of non-delimiter bytes in place
// gives the same pieces without building the copy. The "word occurs as a
// substring" precondition is implied by a piece being equal to it, and an
// empty piece cannot equal a non-blank word, so neither needs its own pass.
template <class Eq>
bool WholeWordWith(std::string_view text, std::string_view word, Eq eq) {
    if (IsBlank(text) || IsBlank(word)) return false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && IsWordDelimiter(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < n && !IsWordDelimiter(text[i]))
            ++i;
        if (i - start == word.size() && SameBytes(text.substr(start, i - start), word, eq))
            return true;
    }
    return false;
}

}  // namespace

bool IsWordDelimiter(char c) {
    return kDelimiterTable[static_cast<unsigned char>(c)];
}

std::size_t NumericCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        if (IsNumericByte(c)) ++count;
    return count;
}

std::string RemoveDigits(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!IsDigitByte(c)) out.push_back(c);
    return out;
}

bool ContainsFolded(std::string_view text, std::string_view pattern) {
    return !pattern.empty() && text.find(pattern) != std::string_view::npos;
}
bool EqualsFolded(std::string_view text, std::string_view pattern) {
    return text == pattern;
}
bool StartsWithFolded(std::string_view text, std::string_view pattern) {
    return text.starts_with(pattern);
}
bool EndsWithFolded(std::string_view text, std::string_view pattern) {
    return EndsWithWith(text, pattern, ExactEq{});
}
bool ContainsWholeWordFolded(std::string_view text, std::string_view word) {
    return WholeWordWith(text, word, ExactEq{});
}

bool Contains(std::string_view text, std::string_view pattern, bool caseSensitive) {
    return caseSensitive ? ContainsFolded(text, pattern) : ContainsWith(text, pattern, FoldEq{});
}
bool Equals(std::string_view text, std::string_view pattern, bool caseSensitive) {
    return caseSensitive ? text == pattern : AsciiIEquals(text, pattern);
}
bool StartsWith(std::string_view text, std::string_view pattern, bool caseSensitive) {
    return caseSensitive ? StartsWithFolded(text, pattern)
                         : StartsWithWith(text, pattern, FoldEq{});
}
bool EndsWith(std::string_view text, std::string_view pattern, bool caseSensitive) {
    return caseSensitive ? EndsWithFolded(text, pattern) : EndsWithWith(text, pattern, FoldEq{});
}
bool ContainsWholeWord(std::string_view text, std::string_view word, bool caseSensitive) {
    return caseSensitive ? ContainsWholeWordFolded(text, word)
                         : WholeWordWith(text, word, FoldEq{});
}

bool IsBlank(std::string_view text) {
    for (char c : text)
        if (!IsBlankByte(c)) return false;
    return true;
}

// Removing the digits cannot change whether a text equals its upper-cased
// form, so this only has to look for a lower-case ASCII letter.
bool IsUppercase(std::string_view text) {
    if (IsBlank(text)) return false;
    for (char c : text)
        if (c >= 'a' && c <= 'z') return false;
    return true;
}

bool IsAllNumeric(std::string_view text) {
    return NumericCount(text) == text.size();
}
bool IsHalfNumeric(std::string_view text) {
    return NumericCount(text) >= text.size() / 2;
}
bool IsFirstCharNumeric(std::string_view text) {
    return !text.empty() && IsDigitByte(text[0]);
}

namespace {

struct KeywordEntry {
    std::string_view keyword;
    Predicate predicate;
};

constexpr KeywordEntry kKeywords[] = {
    {"Contains", Predicate::Contains},
    {"Equals", Predicate::Equals},
    {"Starts with", Predicate::StartsWith},
    {"Ends with", Predicate::EndsWith},
    {"Contains (whole word)", Predicate::ContainsWholeWord},
    {"Is blank", Predicate::IsBlank},
    {"Is UPPERCASE", Predicate::IsUppercase},
    {"All numeric", Predicate::AllNumeric},
    {"50% numeric", Predicate::HalfNumeric},
    {"First char numeric", Predicate::FirstCharNumeric},
};

bool TextOnly(Predicate p, std::string_view raw) {
    switch (p) {
        case Predicate::IsBlank:
            return IsBlank(raw);
        case Predicate::IsUppercase:
            return IsUppercase(raw);
        case Predicate::AllNumeric:
            return IsAllNumeric(raw);
        case Predicate::HalfNumeric:
            return IsHalfNumeric(raw);
        case Predicate::FirstCharNumeric:
            return IsFirstCharNumeric(raw);
        default:
            return false;
    }
}

}  // namespace

std::optional<Predicate> PredicateFromKeyword(std::string_view keyword) {
    for (const auto& e : kKeywords)
        if (e.keyword == keyword) return e.predicate;
    return std::nullopt;
}

std::string_view PredicateKeyword(Predicate p) {
    for (const auto& e : kKeywords)
        if (e.predicate == p) return e.keyword;
    return {};
}

bool TakesPattern(Predicate p) {
    switch (p) {
        case Predicate::Contains:
        case Predicate::Equals:
        case Predicate::StartsWith:
        case Predicate::EndsWith:
        case Predicate::ContainsWholeWord:
            return true;
        default:
            return false;
    }
}

bool Matches(Predicate p, std::string_view text, std::string_view pattern, bool caseSensitive) {
    switch (p) {
        case Predicate::Contains:
            return Contains(text, pattern, caseSensitive);
        case Predicate::Equals:
            return Equals(text, pattern, caseSensitive);
        case Predicate::StartsWith:
            return StartsWith(text, pattern, caseSensitive);
        case Predicate::EndsWith:
            return EndsWith(text, pattern, caseSensitive);
        case Predicate::ContainsWholeWord:
            return ContainsWholeWord(text, pattern, caseSensitive);
        default:
            return TextOnly(p, text);
    }
}

bool Matches(Predicate p, TextForms text, TextForms pattern, bool caseSensitive) {
    if (!TakesPattern(p)) return TextOnly(p, text.raw);
    const std::string_view t = caseSensitive ? text.raw : text.upper;
    const std::string_view w = caseSensitive ? pattern.raw : pattern.upper;
    switch (p) {
        case Predicate::Contains:
            return ContainsFolded(t, w);
        case Predicate::Equals:
            return EqualsFolded(t, w);
        case Predicate::StartsWith:
            return StartsWithFolded(t, w);
        case Predicate::EndsWith:
            return EndsWithFolded(t, w);
        default:
            return ContainsWholeWordFolded(t, w);
    }
}

bool MatchesKeyword(std::string_view keyword, std::string_view text, std::string_view pattern,
                    bool caseSensitive) {
    const auto p = PredicateFromKeyword(keyword);
    return p && Matches(*p, text, pattern, caseSensitive);
}

}  // namespace kelvane
