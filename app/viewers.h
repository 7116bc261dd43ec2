#pragma once

// What the header and body viewers show, without their window: the header
// blocks of the selected rows, and the body of one message fetched from the
// server on demand into a file beside the program, then read back.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/checkrun.h"
#include "app/messagelist.h"
#include "base/prompts.h"
#include "mail/msmsg.h"
#include "mail/mspop3.h"

namespace kelvane {

inline constexpr std::string_view kHeaderSeparator = "**************************************";

// A message above this many octets is fetched only when the user agrees.
inline constexpr std::int64_t kLargeMessageSize = 50000;

// Every selected row (indices in list order): a separator, "Subject : ...
// Sender : ...", a separator, then the header lines of its record as they
// came. Nothing is fetched.
std::vector<std::string> HeaderViewLines(const MessageList& list, const TmsRemoteInfo& info,
                                         const std::vector<std::size_t>& selected);

// "msg_" + position + ".eml".
std::string EMLFileName(int pos);

// Removes the message files of positions 0 to 100 left in folder by earlier
// runs; a file that cannot be removed stays.
void CleanUpEMLFiles(const std::string& folder);

// The question asked before fetching a message of this size (the list's
// size text), or nothing when it is small enough or unknown.
std::optional<std::string> LargeMessageQuestion(std::string_view sizeText);

// A saved message without what the server added to carry it: the "."
// line that ends the block, and the extra dot of every line that began
// with one.
std::string UnframeMessage(std::string_view saved);

// Reads the file the POP3 client saved into msg. Throws when the file
// cannot be read; a message the parser cannot make sense of still loads,
// with the error as its body.
void LoadSavedMessage(TmsMessage& msg, const std::string& path);

// Fetches the message at pos with RETR in a session of its own and saves
// the server's bytes as folder + EMLFileName(pos), telling view's status
// line before and after. No other message is touched: marks left on the
// records by a failed deletion are cleared first, and every mark is
// cleared again on every way out. A failed fetch closes the session
// without QUIT. Throws what the fetch fails with.
void FetchMessage(TmsRemotePOP& pop, int pos, const std::string& folder, CheckView& view);

struct BodyViewContext {
    TmsRemotePOP& pop;
    const MessageList& list;
    std::string folder;  // where the message file goes: the program folder
    UserPrompts& prompts;
    CheckView& view;
    // Called with true before the fetch talks to the server and with false
    // once it is over, also when it failed.
    std::function<void(bool fetching)> fetching;
};

// The body view of the first selected row: says so when nothing or more
// than one row is selected, asks before a large message, fetches and reads
// it. Returns the body lines to show, or nothing when nothing is to be
// shown. Throws what the fetch or the reading fails with.
std::optional<std::vector<std::string>> ViewMessages1Click(
    BodyViewContext& ctx, const std::vector<std::size_t>& selected);

}  // namespace kelvane
