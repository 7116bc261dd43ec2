#pragma once

// The blacklist of known spammers: e-mail addresses and domain names from
// known.lst, kept sorted case-insensitively for binary search. Real lists run
// to a million lines, so the entries live in one buffer and are addressed by
// offset, and a lookup allocates nothing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/fileio.h"

namespace kelvane {

inline constexpr std::string_view kKnownListMissingText =
    "Could not locate the known spammer blacklist!";
inline constexpr std::string_view kKnownKindEmail = "E-mail";
inline constexpr std::string_view kKnownKindDomain = "Domain";

// A lookup compares the key with this many leading bytes of each entry.
inline constexpr std::size_t kKnownCompareLength = 80;
// The domain part looked up is cut to this many bytes.
inline constexpr std::size_t kKnownDomainLength = 255;

struct KnownListHit {
    bool found = false;
    std::string_view kind;   // kKnownKindEmail or kKnownKindDomain when found
    std::string_view value;  // the sender or its domain part; points into the sender
};

// Splits text into lines ended by CR LF, a lone LF or a lone CR. A final
// empty piece after the last line break is not a line.
std::vector<std::string_view> SplitKnownListLines(std::string_view text);

class KnownSpammerList {
  public:
    // Empties the list and reads every line of the file at path into it. A
    // missing (or unreadable) file leaves the list empty; the status says which.
    ReadStatus LoadUpKnownList(const std::string& path);

    // Replaces the entries with every line of text, sorted.
    void LoadFromText(std::string_view text);

    // Replaces the entries with the lines of the edited text, dropping a line
    // equal (case ignored) to the one before it, and a line whose part before
    // its first "@" is only digits and underscores (or empty).
    void RebuildFromEditorText(std::string_view text);

    // The save of the blacklist editor: rebuilds from text and, when the file
    // at path exists, rewrites it. The file is never created. On a failed
    // write throws StoreError and leaves both the list and the file as they
    // were.
    void RebuildAndSave(std::string_view text, const std::string& path);

    // The entries in list order, each ended by CR LF.
    std::string ToFileText() const;

    KnownListHit isInKnownList(std::string_view sender) const;

    std::size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    std::string_view Entry(std::size_t i) const {
        return std::string_view(data_).substr(entries_[i].offset, entries_[i].length);
    }
    void Clear();

  private:
    // key holds the first sixteen folded bytes, big-endian and zero-padded,
    // so most comparisons decide on two integers without touching the text.
    struct Slice {
        std::uint64_t key[2];
        std::size_t offset;
        std::size_t length;
    };

    bool Find(std::string_view key) const;
    void AdoptLines(std::string data, bool applyDropRules);

    std::string data_;
    std::vector<Slice> entries_;
};

}  // namespace kelvane
