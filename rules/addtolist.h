#pragma once

// Turning selected messages into rules: subject and sender rules that delete
// such mail from now on, and exceptions for senders.

#include <cstddef>
#include <string>
#include <vector>

#include "rules/spamsettings.h"
#include "settings/accounts.h"

namespace kelvane {

// The add-to-spam-list dialog holds at most this many messages.
inline constexpr std::size_t kAddToListRows = 249;

struct AddChoice {
    bool subject = true;  // "Always delete mail with these particular subject headings"
    bool sender = true;   // "Always delete mail from these particular senders"
};

// One message's rules, each inserted as row 1.
void addToList(SpamSettings& spam, const std::string& subject, const std::string& sender,
               AddChoice choice);

struct SubjectAndSender {
    std::string subject;
    std::string sender;
};

// The dialog's OK: the first kAddToListRows messages in order; a message
// with an empty subject adds nothing. Returns how many messages were taken.
std::size_t AddMessagesToSpamList(SpamSettings& spam, const std::vector<SubjectAndSender>& messages,
                                  AddChoice choice);

// An exception for a sender, appended (or filling the one empty row).
void AddSenderException(SpamSettings& spam, const std::string& sender);

// The header rule added once for a new user: mail not addressed to slot 1.
std::vector<std::string> FirstRunHeaderRule(const std::string& slot1User);
// Puts that rule first in the header list and saves the rule set at once.
void AddFirstRunHeaderRule(SpamSettings& spam, const MailboxTable& table,
                           const std::string& programDir);

}  // namespace kelvane
