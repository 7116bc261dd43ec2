#pragma once

// Per-message records of a POP3 mailbox and the text functions that read a
// message's raw header lines: field lookup with unfolding and encoded-word
// decoding, sender address splitting and Date parsing. Everything here works
// on bytes alone and is meant to survive any input a spammer can send.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"

namespace kelvane {

// The raw header lines of one message, each without its line end. Nothing is
// unfolded, trimmed or decoded when stored.
class TmsHeaders {
  public:
    // Replaces the lines with those of text. CR LF, a lone LF and a lone CR
    // each end a line; a line end at the very end does not start another line.
    void LoadFromText(std::string_view text);
    // The lines joined, each followed by CR LF.
    std::string Text() const;

    std::size_t Count() const { return lines_.size(); }
    bool Empty() const { return lines_.empty(); }
    const std::string& Line(std::size_t i) const;
    const std::string& operator[](std::size_t i) const { return Line(i); }
    const std::vector<std::string>& Lines() const { return lines_; }

    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Delete(std::size_t i);
    void Delete(std::size_t first, std::size_t count);
    void Clear() { lines_.clear(); }

  private:
    std::vector<std::string> lines_;
};

// One message on the server.
struct TmsRemoteInfoItem {
    bool RetrieveMark = false;
    bool DeleteMark = false;
    // Octets as "LIST" reports them; kSizeUnknown when the reply holds no
    // number that fits, so that no rule takes it for a tiny message.
    static constexpr std::int64_t kSizeUnknown = -1;
    std::int64_t Size = kSizeUnknown;
    TmsHeaders Headers;
    // The server's unique id (UIDL) for the message; empty when the server
    // gives none.
    std::string UniqueId;
    // The header block was longer than a record keeps: Headers holds its
    // beginning, the rest was read and dropped.
    bool HeadersCut = false;
    // The bound the block was read with (0: the usual one); the identity
    // check reads it again with the same bound, so that the same message
    // gives the same lines.
    std::size_t HeaderKeep = 0;
};

// The records of one header update; position i is POP3 message number i + 1.
class TmsRemoteInfo {
  public:
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    TmsRemoteInfoItem& Item(std::size_t i);
    const TmsRemoteInfoItem& Item(std::size_t i) const;
    TmsRemoteInfoItem& operator[](std::size_t i) { return Item(i); }
    const TmsRemoteInfoItem& operator[](std::size_t i) const { return Item(i); }

    // Takes ownership; returns the stored item. A null item is refused.
    TmsRemoteInfoItem& Add(std::unique_ptr<TmsRemoteInfoItem> item);
    // Frees the items last to first.
    void Clear();

  private:
    std::vector<std::unique_ptr<TmsRemoteInfoItem>> items_;
};

constexpr std::size_t kMaxAddressPart = 255;
constexpr std::size_t kMaxHeaderValue = 255;

struct TmsMailAddress {
    std::string Name;     // display name, at most 255 bytes
    std::string Address;  // mailbox address, at most 255 bytes
};

// A sender text with "<" but no ">" after it. Callers that can live without
// the split (the check run) catch exactly this and keep the raw text.
class AddressParseError : public KelvaneError {
  public:
    AddressParseError() : KelvaneError("Unable to parse email address") {}
};

// The unfolded value of the first field called name (case-insensitive; a
// trailing ":" is optional), decoded and cut to 255 bytes except for
// Content-Type and X-UIDL, which come back raw and whole. A missing field,
// an empty list or an empty name (or a bare ":") give the empty text. Never
// throws on any header content.
std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name);

// Every comma-separated entry of every field whose line begins with name
// (no colon is appended), trimmed and decoded; commas inside double quotes do
// not split. Replaces the contents of list. Empty entries are left out.
void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name,
                        std::vector<std::string>& list);

// Removes the first field called name together with its continuation lines.
void RemoveHeader(TmsHeaders& headers, std::string_view name);

// Removes the first empty line and everything after it.
void CutHeadersAtBody(TmsHeaders& headers);

// What a header line costs in memory besides its text.
constexpr std::size_t kHeaderLineCost = sizeof(std::string);

// The text and bookkeeping of the lines.
std::size_t HeaderCost(const TmsHeaders& headers);

// Replaces headers with the lines of a TOP block before its first empty
// line (as LoadFromText and CutHeadersAtBody), as far as they fit in budget
// bytes of HeaderCost; the line that does not fit is kept as far as it
// does. complete: text is the whole block, not its beginning only. Returns
// false when some of the header block was not kept.
bool LoadHeaderBlock(TmsHeaders& headers, std::string_view text, bool complete, std::size_t budget);

// Fills address from a sender text ("Name <addr>", "addr (Name)" or "addr").
// Throws AddressParseError for a "<" that has no ">" after it.
void ParseMailAddress(std::string_view text, TmsMailAddress& address);
TmsMailAddress SplitMailAddress(std::string_view text);
// The address of a From or To value; a value the splitter cannot read (a
// "<" without ">") still names someone, so its trimmed text stands in.
std::string AddressOrText(std::string_view value);

// The text trimmed, then every leading and trailing double quote removed.
std::string StripQuotes(std::string_view text);

// Decodes the RFC 2047 encoded words of a header text; works on, and returns,
// at most 255 bytes. A word that cannot be decoded stays as it stood.
std::string DecodeEncodedWords(std::string_view text);

// Date-time values count days since 1899-12-30; the fraction is the time of
// day (for days before that date it is subtracted). 0 means "no date".
using DateTimeValue = double;

struct DateTimeParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

// Years 1 to 9999; nullopt for a date or time that does not exist.
std::optional<DateTimeValue> EncodeDateTime(int year, int month, int day, int hour = 0,
                                            int minute = 0, int second = 0);
// The calendar parts of a value (rounded to the second); nullopt outside the
// years 1 to 9999 or for a value that is not a number.
std::optional<DateTimeParts> DecodeDateTime(DateTimeValue value);

struct MailDate {
    DateTimeValue Value = 0;  // 0 when the text cannot be read
    std::string Rest;         // what follows the time, normally the zone; upper case
};

// Reads '[day-name,] day month-name year time [zone]'. The zone is not
// applied: the value is the clock time as written.
MailDate ParseMailDate(std::string_view text);

}  // namespace kelvane
