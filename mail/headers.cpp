#include "mail/headers.h"

#include <array>
#include <charconv>
#include <cmath>

#include "base/lines.h"
#include "base/text.h"

namespace kelvane {

namespace {

[[noreturn]] void ThrowIndex(std::size_t i) {
    throw KelvaneError("List index out of bounds (" + std::to_string(i) + ")");
}

bool IsFoldBlank(char c) {
    return c == ' ' || c == '\t';
}

bool StartsContinuation(const std::string& line) {
    return !line.empty() && IsFoldBlank(line[0]);
}

// The lookup key "Name:" of a field name, or empty when the name names nothing
// (an empty name, or a bare ":", would otherwise match every line or the
// lines that begin with a colon, neither of which is a field).
std::string FieldKey(std::string_view name) {
    if (name.empty() || name == ":") return {};
    std::string key(name);
    if (key.back() != ':') key += ':';
    return key;
}

std::size_t FindField(const TmsHeaders& headers, std::string_view key) {
    for (std::size_t i = 0; i < headers.Count(); ++i)
        if (AsciiIStartsWith(headers[i], key)) return i;
    return headers.Count();
}

// Fields whose values are structured data rather than display text: decoding
// would damage a MIME boundary or a message id, and the 255 cut would lose
// parameters.
bool IsRawField(std::string_view name) {
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    return AsciiIEquals(name, "Content-Type") || AsciiIEquals(name, "X-UIDL");
}

std::string CutTo(std::string s, std::size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::optional<std::string> DecodeBase64(std::string_view s) {
    while (!s.empty() && s.back() == '=')
        s.remove_suffix(1);
    std::string out;
    out.reserve(s.size() * 3 / 4);
    unsigned acc = 0;
    int bits = 0;
    for (char c : s) {
        const int v = Base64Value(c);
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
        acc &= (1u << bits) - 1;
    }
    return out;
}

// An "=" that is not followed by two hexadecimal digits stands for itself.
std::string DecodeQ(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size()) {
            const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

// The bytes of one encoded word, given what stands between its "=?" and its
// closing "?=". nullopt when the word cannot be decoded: no charset
// separator, no encoding letter, a letter other than B or Q (we do not guess
// at unknown encodings), a letter not followed by "?", or Base64 text with a
// character outside the alphabet. Such a word is left exactly as it stood, so
// one malformed word in a spam subject cannot spoil the rest of the value.
std::optional<std::string> DecodeWord(std::string_view inner) {
    const std::size_t sep = inner.find('?');
    if (sep == std::string_view::npos) return std::nullopt;
    inner.remove_prefix(sep + 1);
    if (inner.empty()) return std::nullopt;
    const char encoding = AsciiUpper(inner[0]);
    inner.remove_prefix(1);
    if (!inner.empty()) {
        if (inner[0] != '?') return std::nullopt;
        inner.remove_prefix(1);
    }
    if (encoding == 'B') return DecodeBase64(inner);
    if (encoding == 'Q') return DecodeQ(inner);
    return std::nullopt;
}

// The closing "?=" of the word opened at start: a "?" followed by "=" that
// does not directly follow "?B" or "?Q", so that a Q text beginning with "="
// is not taken for the end of the word.
std::size_t FindWordEnd(const std::string& s, std::size_t start) {
    for (std::size_t q = s.find('?', start + 2); q != std::string::npos; q = s.find('?', q + 1)) {
        if (q + 1 >= s.size() || s[q + 1] != '=') continue;
        const bool afterLetter = s[q - 2] == '?' && (s[q - 1] == 'B' || s[q - 1] == 'Q');
        if (!afterLetter) return q;
    }
    return std::string::npos;
}

// Whole decimal number, digits only.
bool ReadNumber(std::string_view s, int& out) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

bool AllDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

// "h:mm", "hh:mm", "h:mm:ss" or "hh:mm:ss" on a 24-hour clock.
bool ParseClock(std::string_view t, int& hour, int& minute, int& second) {
    const std::size_t c1 = t.find(':');
    if (c1 == std::string_view::npos) return false;
    const std::string_view h = t.substr(0, c1);
    std::string_view rest = t.substr(c1 + 1);
    const std::size_t c2 = rest.find(':');
    const std::string_view m = rest.substr(0, c2);
    const std::string_view s = c2 == std::string_view::npos ? "00" : rest.substr(c2 + 1);
    if (h.size() < 1 || h.size() > 2 || m.size() != 2 || s.size() != 2) return false;
    if (!AllDigits(h) || !AllDigits(m) || !AllDigits(s)) return false;
    ReadNumber(h, hour);
    ReadNumber(m, minute);
    ReadNumber(s, second);
    return hour <= 23 && minute <= 59 && second <= 59;
}

// Deletes what precedes the first digit and trims; false when there is no
// digit or it is the last character left.
bool SkipToDigit(std::string_view& v) {
    const std::size_t p = v.find_first_of("0123456789");
    if (p == std::string_view::npos) return false;
    v = TrimView(v.substr(p));
    return v.size() > 1;
}

// Days from 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's
// civil-date algorithms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// Day 0 of the value scale, 1899-12-30, counted from 1970-01-01.
constexpr long long kEpochShift = 25569;
constexpr double kMinValue = -693594.0;  // before 0001-01-01
constexpr double kMaxValue = 2958466.0;  // after 9999-12-31

}  // namespace

// --- TmsHeaders -------------------------------------------------------------

void TmsHeaders::LoadFromText(std::string_view text) {
    lines_.clear();
    LineSplitter lines(text);
    for (std::string_view line; lines.Next(line);)
        lines_.emplace_back(line);
}

std::string TmsHeaders::Text() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

const std::string& TmsHeaders::Line(std::size_t i) const {
    if (i >= lines_.size()) ThrowIndex(i);
    return lines_[i];
}

void TmsHeaders::Delete(std::size_t i) {
    if (i >= lines_.size()) ThrowIndex(i);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
}

void TmsHeaders::Delete(std::size_t first, std::size_t count) {
    if (first > lines_.size() || count > lines_.size() - first) ThrowIndex(first + count);
    const auto b = lines_.begin() + static_cast<std::ptrdiff_t>(first);
    lines_.erase(b, b + static_cast<std::ptrdiff_t>(count));
}

// --- TmsRemoteInfo ----------------------------------------------------------

TmsRemoteInfoItem& TmsRemoteInfo::Item(std::size_t i) {
    if (i >= items_.size()) ThrowIndex(i);
    return *items_[i];
}

const TmsRemoteInfoItem& TmsRemoteInfo::Item(std::size_t i) const {
    if (i >= items_.size()) ThrowIndex(i);
    return *items_[i];
}

TmsRemoteInfoItem& TmsRemoteInfo::Add(std::unique_ptr<TmsRemoteInfoItem> item) {
    if (!item) throw KelvaneError("Cannot add an empty message record");
    items_.push_back(std::move(item));
    return *items_.back();
}

void TmsRemoteInfo::Clear() {
    while (!items_.empty())
        items_.pop_back();
}

// --- Header fields ----------------------------------------------------------

std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name) {
    const std::string key = FieldKey(name);
    if (key.empty() || headers.Empty()) return {};
    const std::size_t i = FindField(headers, key);
    if (i == headers.Count()) return {};

    const bool raw = IsRawField(name);
    const std::string& first = headers[i];
    std::string value = Trim(std::string_view(first).substr(first.find(':') + 1));
    for (std::size_t j = i + 1; j < headers.Count() && StartsContinuation(headers[j]); ++j) {
        // Decoding sees only the first 255 bytes, so a hostile field folded
        // over thousands of lines need not be gathered whole.
        if (!raw && value.size() >= kMaxHeaderValue) continue;
        value += ' ';
        value += TrimView(headers[j]);
    }
    if (raw) return value;
    return CutTo(DecodeEncodedWords(value), kMaxHeaderValue);
}

void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name,
                        std::vector<std::string>& list) {
    list.clear();
    if (name.empty()) return;

    const auto addEntries = [&list](std::string_view value) {
        bool quoted = false;
        std::size_t start = 0;
        for (std::size_t k = 0; k <= value.size(); ++k) {
            if (k < value.size() && value[k] == '"') quoted = !quoted;
            if (k < value.size() && (value[k] != ',' || quoted)) continue;
            const std::string_view piece = TrimView(value.substr(start, k - start));
            start = k + 1;
            if (piece.empty()) continue;
            std::string entry = DecodeEncodedWords(piece);
            if (!entry.empty()) list.push_back(std::move(entry));
        }
    };

    std::size_t i = 0;
    while (i < headers.Count()) {
        const std::string& line = headers[i];
        if (!AsciiIStartsWith(line, name)) {
            ++i;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        std::string value = line.substr(colon + 1);
        for (++i; i < headers.Count() && headers[i].find(':') == std::string::npos; ++i)
            value += headers[i];
        addEntries(value);
    }
}

void RemoveHeader(TmsHeaders& headers, std::string_view name) {
    const std::string key = FieldKey(name);
    if (key.empty()) return;
    const std::size_t i = FindField(headers, key);
    if (i == headers.Count()) return;
    std::size_t end = i + 1;
    while (end < headers.Count() && StartsContinuation(headers[end]))
        ++end;
    headers.Delete(i, end - i);
}

void CutHeadersAtBody(TmsHeaders& headers) {
    for (std::size_t i = 0; i < headers.Count(); ++i) {
        if (headers[i].empty()) {
            headers.Delete(i, headers.Count() - i);
            return;
        }
    }
}

std::size_t HeaderCost(const TmsHeaders& headers) {
    std::size_t cost = 0;
    for (const std::string& line : headers.Lines())
        cost += line.size() + kHeaderLineCost;
    return cost;
}

bool LoadHeaderBlock(TmsHeaders& headers, std::string_view text, bool complete,
                     std::size_t budget) {
    headers.Clear();
    std::size_t cost = 0;
    LineSplitter lines(text);
    for (std::string_view line; lines.Next(line);) {
        if (line.empty()) return true;  // the body begins
        cost += kHeaderLineCost;
        if (cost + line.size() > budget) {
            if (cost < budget) headers.Add(std::string(line.substr(0, budget - cost)));
            return false;
        }
        cost += line.size();
        headers.Add(std::string(line));
    }
    return complete;
}

// --- Addresses --------------------------------------------------------------

std::string StripQuotes(std::string_view text) {
    std::string_view s = TrimView(text);
    while (!s.empty() && s.front() == '"')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == '"')
        s.remove_suffix(1);
    return std::string(s);
}

void ParseMailAddress(std::string_view text, TmsMailAddress& address) {
    std::string name;
    std::string addr;
    const std::size_t lt = text.find('<');
    if (lt != std::string_view::npos) {
        const std::size_t gt = text.find('>');
        if (gt == std::string_view::npos || gt < lt) throw AddressParseError();
        addr = StripQuotes(text.substr(lt + 1, gt - lt - 1));
        std::string rest(text.substr(0, lt));
        rest += text.substr(gt + 1);
        name = StripQuotes(rest);
    } else if (const std::size_t paren = text.find('('); paren != std::string_view::npos) {
        addr = StripQuotes(text.substr(0, paren));
        // The last character is taken to be the closing parenthesis.
        if (text.size() >= paren + 2)
            name = StripQuotes(text.substr(paren + 1, text.size() - paren - 2));
    } else {
        addr = std::string(text);
    }
    address.Address = CutTo(std::move(addr), kMaxAddressPart);
    address.Name = CutTo(std::move(name), kMaxAddressPart);
}

std::string AddressOrText(std::string_view value) {
    try {
        return SplitMailAddress(value).Address;
    } catch (const AddressParseError&) {
        return Trim(value);
    }
}

TmsMailAddress SplitMailAddress(std::string_view text) {
    TmsMailAddress address;
    ParseMailAddress(text, address);
    return address;
}

// --- Encoded words ----------------------------------------------------------

std::string DecodeEncodedWords(std::string_view text) {
    std::string s(text.substr(0, kMaxHeaderValue));
    // Words before this offset were found undecodable and are kept; searching
    // again from the start would find them forever.
    std::size_t from = 0;
    for (;;) {
        const std::size_t start = s.find("=?", from);
        if (start == std::string::npos) break;
        const std::size_t end = FindWordEnd(s, start);
        if (end == std::string::npos) break;
        const std::optional<std::string> bytes =
            DecodeWord(std::string_view(s).substr(start + 2, end - start - 2));
        if (!bytes) {
            from = end + 2;
            continue;
        }
        // Blanks after a word go, so that adjacent words join as RFC 2047 wants.
        std::string next = s.substr(0, start);
        next += *bytes;
        next += TrimView(std::string_view(s).substr(end + 2));
        next = CutTo(std::move(next), kMaxHeaderValue);
        for (char& c : next)
            if (c == '_') c = ' ';
        s = std::move(next);
    }
    return s;
}

// --- Dates ------------------------------------------------------------------

std::optional<DateTimeValue> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                            int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpochShift;
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    const auto d = static_cast<double>(days);
    return days >= 0 ? d + time : d - time;
}

std::optional<DateTimeParts> DecodeDateTime(DateTimeValue value) {
    if (!std::isfinite(value) || value <= kMinValue || value >= kMaxValue) return std::nullopt;
    const double whole = std::trunc(value);
    long long seconds = std::llround(std::fabs(value - whole) * 86400.0);
    if (seconds > 86399) seconds = 86399;  // never round into the next day
    DateTimeParts p;
    CivilFromDays(static_cast<long long>(whole) - kEpochShift, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(seconds / 3600);
    p.Minute = static_cast<int>(seconds / 60 % 60);
    p.Second = static_cast<int>(seconds % 60);
    return p;
}

MailDate ParseMailDate(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const std::string upper = AsciiUpper(StripQuotes(text));
    std::string_view v = upper;
    if (v.empty() || !SkipToDigit(v)) return {};

    std::size_t blank = v.find(' ');
    if (blank == std::string_view::npos) return {};
    int day = 0;
    if (!ReadNumber(TrimView(v.substr(0, blank)), day)) return {};
    v = TrimView(v.substr(blank + 1));

    int month = 0;
    for (std::size_t m = 0; m < kMonths.size() && month == 0; ++m)
        if (v.find(kMonths[m]) != std::string_view::npos) month = static_cast<int>(m) + 1;
    if (month == 0) return {};

    if (!SkipToDigit(v)) return {};
    blank = v.find(' ');
    int year = 0;
    // A date without a time ends with the year.
    if (!ReadNumber(v.substr(0, blank), year)) return {};
    v = blank == std::string_view::npos ? std::string_view() : TrimView(v.substr(blank + 1));
    if (year >= 51 && year <= 99)
        year += 1900;
    else if (year <= 50)
        year += 2000;

    blank = v.find(' ');
    std::string_view clock = TrimView(v.substr(0, blank));
    if (!clock.empty() && clock.back() == ',') clock.remove_suffix(1);
    const std::string_view rest =
        blank == std::string_view::npos ? std::string_view() : TrimView(v.substr(blank + 1));

    int hour = 0, minute = 0, second = 0;
    if (!ParseClock(clock, hour, minute, second)) hour = minute = second = 0;
    const std::optional<DateTimeValue> value =
        EncodeDateTime(year, month, day, hour, minute, second);
    if (!value) return {};
    return {*value, std::string(rest)};
}

}  // namespace kelvane
