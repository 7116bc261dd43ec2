#pragma once

// Byte-string helpers shared by every layer. Texts are 8-bit byte strings;
// case folding touches only the ASCII letters.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane {

constexpr char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

inline bool AsciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

inline bool AsciiIStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiIEquals(text.substr(0, prefix.size()), prefix);
}

// Three-way comparison of the folded bytes, as unsigned values.
inline int AsciiICompare(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto y = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "123", "+123" or "-123" within 32 bits, nothing around it.
constexpr bool ParseDecimalInt32(std::string_view text, std::int32_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

// Digits only, within 63 bits: an octet count from a server. No sign, no
// blanks, nothing that does not fit.
constexpr bool ParseOctetCount(std::string_view text, std::int64_t& value) {
    if (text.empty()) return false;
    std::int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (v > (INT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// Trimming removes leading and trailing bytes with codes 0 to 32.
// Space, CR, LF and backspace; TAB is not blank.
constexpr bool IsBlankByte(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\b';
}
// Empty or only blank bytes: what counts as "not entered" for a name.
constexpr bool IsBlankText(std::string_view text) {
    for (char c : text)
        if (!IsBlankByte(c)) return false;
    return true;
}

inline std::string_view TrimView(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32)
        --e;
    return s.substr(b, e - b);
}
inline std::string Trim(std::string_view s) {
    return std::string(TrimView(s));
}

}  // namespace kelvane
