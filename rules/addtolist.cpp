#include "rules/addtolist.h"

namespace kelvane {

void addToList(SpamSettings& spam, const std::string& subject, const std::string& sender,
               AddChoice choice) {
    if (choice.subject) spam.SubjectRule.InsertRow(1, {"", "Equals", subject, "Yes", "Yes", "1"});
    if (choice.sender)
        spam.SenderRule.InsertRow(1, {"", "E-mail address", "Equals", sender, "Yes", "1"});
}

std::size_t AddMessagesToSpamList(SpamSettings& spam, const std::vector<SubjectAndSender>& messages,
                                  AddChoice choice) {
    std::size_t taken = messages.size() < kAddToListRows ? messages.size() : kAddToListRows;
    for (std::size_t i = 0; i < taken; ++i)
        if (!messages[i].subject.empty())
            addToList(spam, messages[i].subject, messages[i].sender, choice);
    return taken;
}

void AddSenderException(SpamSettings& spam, const std::string& sender) {
    spam.ExceptionRule.AppendRow({"E-mail address", "Equals", sender, "No", "0"});
}

std::vector<std::string> FirstRunHeaderRule(const std::string& slot1User) {
    return {"", "To does not contain", slot1User + " - MailBox #1", "No", "Yes", "0"};
}

void AddFirstRunHeaderRule(SpamSettings& spam, const MailboxTable& table,
                           const std::string& programDir) {
    spam.HeaderRule.InsertRow(1, FirstRunHeaderRule(table.slot(1).userName));
    spam.Savesettings(programDir, SaveMode::Explicit);
}

}  // namespace kelvane
