#include "settings/encrypt.h"

#include <cstdint>

#include "base/error.h"
#include "base/text.h"

namespace kelvane {

namespace {

constexpr uint32_t kKeyOffset = 0x4B1D;
constexpr uint32_t kMultiplier = 0xC3A5;
constexpr uint32_t kIncrement = 0x2F17;
constexpr std::string_view kStoredPrefix = "hex:";

void CheckLength(std::string_view text) {
    if (text.size() > kMaxPasswordLength)
        throw KelvaneError("A password may be at most 255 characters long");
}

// The key advances on the scrambled byte in both directions, so
// unscrambling retraces the same key stream.
template <bool Scrambling>
std::string Walk(std::string_view text, int key) {
    CheckLength(text);
    uint32_t k = (static_cast<uint32_t>(key) + kKeyOffset) & 0xFFFF;
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto in = static_cast<unsigned char>(text[i]);
        auto res = static_cast<unsigned char>(in ^ (k >> 8));
        out[i] = static_cast<char>(res);
        uint32_t c = Scrambling ? res : in;
        k = ((c + k) * kMultiplier + kIncrement) & 0xFFFF;
    }
    return out;
}

}  // namespace

std::string ScrambleText(std::string_view text, int key) {
    return Walk<true>(text, key);
}
std::string UnscrambleText(std::string_view text, int key) {
    return Walk<false>(text, key);
}

std::string EncodeStoredPassword(std::string_view scrambled) {
    if (scrambled.empty()) return {};
    static const char* hex = "0123456789ABCDEF";
    std::string out(kStoredPrefix);
    for (char c : scrambled) {
        auto u = static_cast<unsigned char>(c);
        out += hex[u >> 4];
        out += hex[u & 15];
    }
    return out;
}

std::string DecodeStoredPassword(std::string_view stored) {
    if (!stored.starts_with(kStoredPrefix) || (stored.size() - kStoredPrefix.size()) % 2)
        return std::string(stored);  // not our spelling: take the text as it is
    std::string_view digits = stored.substr(kStoredPrefix.size());
    std::string out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        int hi = HexValue(digits[i]), lo = HexValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return std::string(stored);
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace kelvane
