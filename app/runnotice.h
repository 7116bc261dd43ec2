#pragma once

// What the desktop notification says after an unattended run.

#include <string>
#include <vector>

namespace kelvane {

// One mailbox the run visited.
struct MailboxRunResult {
    std::string user;
    std::string server;
    int deleted = 0;  // junk messages deleted without a question
    int waiting = 0;  // messages left when the run stopped here for the user
};

// One line per mailbox where something happened, for example
// "4 junk messages deleted from ann on pop.example.com" or
// "2 messages waiting in bob on mail.example.org"; empty when nothing did,
// so that a run that found nothing stays silent.
std::string RunNoticeText(const std::vector<MailboxRunResult>& results);

}  // namespace kelvane
