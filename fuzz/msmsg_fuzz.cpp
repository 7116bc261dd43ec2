// Feeds arbitrary bytes to the message reader as a saved message. Only the
// sender-address error may escape; the body must never be left half-built.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/msmsg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kelvane::TmsMessage msg;
    try {
        msg.LoadFromText(text);
    } catch (const kelvane::AddressParseError&) {
        return 0;
    }
    if (msg.Subject.size() > kelvane::kMaxHeaderValue) __builtin_trap();
    for (const kelvane::TmsAttachment& att : msg.Attachments)
        if (att.FileName.empty()) __builtin_trap();
    // The error body keeps the whole text; any other body only decodes it.
    const bool failed =
        msg.Body.size() == 3 &&
        msg.Body[0] == "The following error has been occured while processing the message:";
    if (failed) {
        // A message may quote the error text itself; then nothing can be told.
        if (text.find("has been occured") != std::string_view::npos) return 0;
        if (msg.Attachments.size() != 1 || msg.Attachments[0].Data != text) __builtin_trap();
        return 0;
    }
    std::size_t bytes = 0;
    for (const std::string& line : msg.Body)
        bytes += line.size();
    if (bytes > size) __builtin_trap();
    return 0;
}
