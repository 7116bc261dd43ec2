#pragma once

// The one place where the core's byte strings become display text.

#include <QString>
#include <string>
#include <string_view>

namespace kelvane::ui {

// UTF-8 when the bytes are valid UTF-8, Latin-1 otherwise, so an old 8-bit
// header still reads instead of turning into replacement characters.
QString DisplayText(std::string_view bytes);

// The way back for texts the user typed; the core keeps UTF-8.
std::string CoreText(const QString& text);

}  // namespace kelvane::ui
