#include "rules/knownlist.h"

#include <algorithm>
#include <utility>

#include "base/error.h"
#include "base/lines.h"
#include "base/text.h"
#include "rules/predicates.h"

namespace kelvane {

namespace {

// Calls line(begin, length) for every line of text; see SplitKnownListLines.
template <class F>
void ForEachLine(std::string_view text, F&& line) {
    LineSplitter lines(text);
    for (std::string_view l; lines.Next(l);)
        line(static_cast<std::size_t>(l.data() - text.data()), l.size());
}

// A line such as "12345@example.com" or "@example.com": its part before the
// first "@" holds nothing but digits and underscores.
bool HasNumericLocalPart(std::string_view line) {
    const std::size_t at = line.find('@');
    return at != std::string_view::npos && IsAllNumeric(line.substr(0, at));
}

// Eight bytes of s from position from, folded, big-endian, zero-padded.
// Unequal keys order two texts as AsciiICompare does: at the first differing
// byte either both are real bytes, or the padded text ended there and is a
// proper prefix of the other. Equal keys leave the order to the full
// comparison.
std::uint64_t FoldedKey(std::string_view s, std::size_t from) {
    std::uint64_t key = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
        key <<= 8;
        if (i < s.size()) key |= static_cast<unsigned char>(AsciiUpper(s[i]));
    }
    return key;
}

}  // namespace

std::vector<std::string_view> SplitKnownListLines(std::string_view text) {
    std::vector<std::string_view> lines;
    ForEachLine(text, [&](std::size_t begin, std::size_t length) {
        lines.push_back(text.substr(begin, length));
    });
    return lines;
}

void KnownSpammerList::Clear() {
    data_.clear();
    entries_.clear();
}

ReadStatus KnownSpammerList::LoadUpKnownList(const std::string& path) {
    Clear();
    FileContent content = ReadWholeFile(path);
    if (content.status == ReadStatus::Ok) AdoptLines(std::move(content.data), false);
    return content.status;
}

void KnownSpammerList::LoadFromText(std::string_view text) {
    AdoptLines(std::string(text), false);
}

// Every line of the edited text is taken, the last one too when the text does
// not end with a line break; only an empty piece after a final break is not a
// line. (Taking all but the editor's last line would drop a real entry
// whenever the user did not finish the text with a line break.)
void KnownSpammerList::RebuildFromEditorText(std::string_view text) {
    AdoptLines(std::string(text), true);
}

// The entries are slices of the text itself, so loading copies no line. They
// are sorted in one pass at the end: inserting one by one would be quadratic
// on a list of a million lines.
void KnownSpammerList::AdoptLines(std::string data, bool applyDropRules) {
    data_ = std::move(data);
    entries_.clear();
    const std::string_view text(data_);
    entries_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    std::string_view previous;  // the last line seen, dropped or not
    ForEachLine(text, [&](std::size_t begin, std::size_t length) {
        const std::string_view line = text.substr(begin, length);
        if (applyDropRules) {
            // The first line is compared with the empty text, so an empty
            // first line is dropped as well.
            const bool drop = AsciiIEquals(line, previous) || HasNumericLocalPart(line);
            previous = line;
            if (drop) return;
        }
        entries_.push_back({{FoldedKey(line, 0), FoldedKey(line, 8)}, begin, length});
    });
    // Entries equal but for case keep the order of the text: ties are broken
    // by position, which makes this sort stable and faster than stable_sort.
    std::sort(entries_.begin(), entries_.end(), [&](const Slice& a, const Slice& b) {
        if (a.key[0] != b.key[0]) return a.key[0] < b.key[0];
        if (a.key[1] != b.key[1]) return a.key[1] < b.key[1];
        const int c =
            AsciiICompare(text.substr(a.offset, a.length), text.substr(b.offset, b.length));
        return c != 0 ? c < 0 : a.offset < b.offset;
    });
}

std::string KnownSpammerList::ToFileText() const {
    std::size_t total = 0;
    for (const Slice& e : entries_)
        total += e.length + 2;
    std::string out;
    out.reserve(total);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        out.append(Entry(i));
        out.append("\r\n");
    }
    return out;
}

void KnownSpammerList::RebuildAndSave(std::string_view text, const std::string& path) {
    KnownSpammerList rebuilt;
    rebuilt.RebuildFromEditorText(text);
    if (FileExists(path)) {
        if (WriteFileAtomic(path, rebuilt.ToFileText()))
            throw StoreError("Unable to write to " + path);
    }
    *this = std::move(rebuilt);
}

// The list is sorted by whole strings; cutting every entry to its first bytes
// keeps that order, so the binary search over the cut entries is sound and
// uses the same collation.
bool KnownSpammerList::Find(std::string_view key) const {
    // An entry's key lies within its first 80 bytes, so it orders the key
    // against the cut entry just as it orders whole entries.
    const std::uint64_t k0 = FoldedKey(key, 0), k1 = FoldedKey(key, 8);
    std::size_t lo = 0, hi = entries_.size();  // half-open [lo, hi)
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const Slice& e = entries_[mid];
        int c;
        if (k0 != e.key[0])
            c = k0 < e.key[0] ? -1 : 1;
        else if (k1 != e.key[1])
            c = k1 < e.key[1] ? -1 : 1;
        else
            c = AsciiICompare(key, Entry(mid).substr(0, kKnownCompareLength));
        if (c == 0) return true;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return false;
}

KnownListHit KnownSpammerList::isInKnownList(std::string_view sender) const {
    // An empty line of known.lst is kept as an entry, but it names nobody: an
    // empty key never matches, so a message without a sender address (or one
    // ending in "@") is not deleted because of a blank line.
    if (!sender.empty() && Find(sender)) return {true, kKnownKindEmail, sender};
    const std::size_t at = sender.find('@');
    if (at == std::string_view::npos) return {};
    const std::string_view domain = sender.substr(at + 1, kKnownDomainLength);
    if (!domain.empty() && Find(domain)) return {true, kKnownKindDomain, domain};
    return {};
}

}  // namespace kelvane
