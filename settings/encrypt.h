#pragma once

// Password scrambling for the per-user store. This keeps passwords from
// being read at a glance; it is not encryption.

#include <string>
#include <string_view>

namespace kelvane {

// The longest password the scrambling takes.
inline constexpr std::size_t kMaxPasswordLength = 255;

// Both give a text of the input's length; the key is the mailbox slot
// number, so every slot has its own key stream. Texts longer than
// kMaxPasswordLength raise KelvaneError.
std::string ScrambleText(std::string_view text, int key);
std::string UnscrambleText(std::string_view text, int key);

// A scrambled text may hold any byte, NUL included, which a text value does
// not keep whole; the stored form spells it in hexadecimal.
std::string EncodeStoredPassword(std::string_view scrambled);
std::string DecodeStoredPassword(std::string_view stored);

}  // namespace kelvane
