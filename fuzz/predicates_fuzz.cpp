// Feeds arbitrary bytes to every text test and to the blacklist rebuild, and
// checks the properties the rule engine relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "rules/knownlist.h"
#include "rules/predicates.h"

namespace {

using namespace kelvane;

constexpr Predicate kAll[] = {
    Predicate::Contains,          Predicate::Equals,
    Predicate::StartsWith,        Predicate::EndsWith,
    Predicate::ContainsWholeWord, Predicate::IsBlank,
    Predicate::IsUppercase,       Predicate::AllNumeric,
    Predicate::HalfNumeric,       Predicate::FirstCharNumeric,
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void FuzzPredicates(std::string_view text, std::string_view pattern) {
    const std::string upperText = AsciiUpper(text), upperPattern = AsciiUpper(pattern);
    for (Predicate p : kAll) {
        for (bool caseSensitive : {false, true}) {
            const bool plain = Matches(p, text, pattern, caseSensitive);
            Check(plain == Matches(p, TextForms{text, upperText}, TextForms{pattern, upperPattern},
                                   caseSensitive));
            Check(plain == MatchesKeyword(PredicateKeyword(p), text, pattern, caseSensitive));
        }
        // Ignoring case is the same as comparing the folded texts.
        if (TakesPattern(p))
            Check(Matches(p, text, pattern, false) == Matches(p, upperText, upperPattern, true));
    }
    for (bool caseSensitive : {false, true})
        if (ContainsWholeWord(text, pattern, caseSensitive))
            Check(Contains(text, pattern, caseSensitive));
}

void FuzzKnownList(std::string_view text) {
    KnownSpammerList list;
    list.RebuildFromEditorText(text);
    for (std::size_t i = 0; i + 1 < list.Count(); ++i)
        Check(AsciiICompare(list.Entry(i), list.Entry(i + 1)) <= 0);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const std::string_view e = list.Entry(i);
        Check(e.find_first_of("\r\n") == std::string_view::npos);
        // A blank entry names nobody; every other entry finds itself.
        Check(list.isInKnownList(e.substr(0, kKnownCompareLength)).found == !e.empty());
    }
    // What the rebuild writes loads back as the same list.
    KnownSpammerList reloaded;
    reloaded.LoadFromText(list.ToFileText());
    Check(reloaded.Count() == list.Count());
    for (std::size_t i = 0; i < list.Count(); ++i)
        Check(reloaded.Entry(i) == list.Entry(i));
    list.isInKnownList(text);
}

}  // namespace

// The first byte says where the text ends and the pattern begins.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = input.empty() ? 0 : data[0] % (input.size() + 1);
    FuzzPredicates(input.substr(0, split), input.substr(split));
    FuzzKnownList(input);
    return 0;
}
