// Parses arbitrary bytes as a rule list file of every kind and checks that
// what we write reads back undamaged and writes the same bytes again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rules/spamsettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (kelvane::RuleKind kind : {kelvane::RuleKind::Subject, kelvane::RuleKind::Sender,
                                   kelvane::RuleKind::Header, kelvane::RuleKind::Exception}) {
        kelvane::RuleList list = kelvane::RuleList::Parse(kind, text, "input");
        if (list.Warnings().size() > kelvane::RuleList::kMaxWarnings + 1) std::abort();
        const std::string once = list.Serialize();
        kelvane::RuleList again = kelvane::RuleList::Parse(kind, once, "again");
        if (again.Damaged() || again.RowCount() != list.RowCount()) std::abort();
        if (again.Serialize() != once) std::abort();
        if (list.RowCount() > 1) {
            again.IncrementHits(1);
            again.RemoveAdjacentDuplicates();
        }
    }
    return 0;
}
