#include "app/messagelist.h"

namespace kelvane {

std::size_t MessageList::MarkedCount() const {
    std::size_t n = 0;
    for (const MessageRow& r : rows_)
        if (IsMarkedForDeletion(r.mark)) ++n;
    return n;
}

std::string MessageList::CountLine() const {
    return "Message Total: " + std::to_string(rows_.size()) +
           " Number Marked: " + std::to_string(MarkedCount());
}

void MessageList::NadaSelected(UserPrompts& prompts) const {
    prompts.Information(std::string(rows_.empty() ? kNoMessagesText : kNothingSelectedText));
}

void MessageList::btMarkClick(const std::vector<std::size_t>& selected, UserPrompts& prompts) {
    if (selected.empty()) {
        NadaSelected(prompts);
        return;
    }
    for (std::size_t i : selected) {
        if (i >= rows_.size()) continue;
        MessageRow& r = rows_[i];
        r.mark = IsMarkedForDeletion(r.mark) ? mmNone : mmDelete;
    }
}

void MessageList::ResetButtonClick() {
    for (MessageRow& r : rows_)
        r.mark = mmNone;
}

void MessageList::btRemarkClick(MessageEvaluator& evaluator,
                                const std::function<const TmsHeaders&(std::size_t)>& headersOf,
                                int mailbox, UserPrompts& prompts) {
    ResetButtonClick();
    evaluator.MarkForDeletion(rows_, headersOf, -1, mailbox);
    if (MarkedCount() == 0) prompts.Information(std::string(kNoneMatchedText));
}

}  // namespace kelvane
