// Feeds arbitrary bytes through every header reader the check run uses on a
// message from the server. Anything but AddressParseError escaping is a bug.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kelvane::TmsHeaders headers;
    headers.LoadFromText(text);

    for (const char* name : {"Subject", "Content-Type", "X-UIDL", "Received", "", ":"})
        kelvane::GetHeaderValue(headers, name);

    std::vector<std::string> list;
    kelvane::GetHeaderAddresses(headers, "To", list);
    for (const std::string& entry : list)
        if (entry.size() > kelvane::kMaxHeaderValue) __builtin_trap();

    const std::string from = kelvane::GetHeaderValue(headers, "From");
    if (from.size() > kelvane::kMaxHeaderValue) __builtin_trap();
    try {
        const kelvane::TmsMailAddress a = kelvane::SplitMailAddress(from);
        if (a.Address.size() > kelvane::kMaxAddressPart || a.Name.size() > kelvane::kMaxAddressPart)
            __builtin_trap();
    } catch (const kelvane::AddressParseError&) {
    }

    const kelvane::MailDate date = kelvane::ParseMailDate(kelvane::GetHeaderValue(headers, "Date"));
    if (date.Value != 0 && !kelvane::DecodeDateTime(date.Value)) __builtin_trap();
    if (date.Value == 0 && !date.Rest.empty()) __builtin_trap();

    if (kelvane::DecodeEncodedWords(text).size() > kelvane::kMaxHeaderValue) __builtin_trap();

    kelvane::RemoveHeader(headers, "Received");
    kelvane::CutHeadersAtBody(headers);
    for (const std::string& line : headers.Lines())
        if (line.empty()) __builtin_trap();
    return 0;
}
