#pragma once

// The message list of the main window without its widget: the rows, their
// marks and the commands that change them. Row i always describes record i
// of the POP3 client's list.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/prompts.h"
#include "rules/evaluate.h"

namespace kelvane {

inline constexpr std::string_view kNothingSelectedText =
    "No messages were selected.  To select one message click on a subject.  To select multiple "
    "messages drag the mouse over the list of desired subjects.";
inline constexpr std::string_view kNoMessagesText =
    "Either there are no e-mail messages waiting on the mail server or you have not yet clicked "
    "on the \"Check E-Mail\" button.";
inline constexpr std::string_view kNoneMatchedText =
    "None of the messages matched any of the spam criteria.";

class MessageList {
  public:
    std::vector<MessageRow>& Rows() { return rows_; }
    const std::vector<MessageRow>& Rows() const { return rows_; }
    std::size_t Count() const { return rows_.size(); }
    void Append(MessageRow row) { rows_.push_back(std::move(row)); }
    void Clear() { rows_.clear(); }

    std::size_t MarkedCount() const;
    // "Message Total: N Number Marked: M".
    std::string CountLine() const;

    // Why a command that needs selected rows did nothing.
    void NadaSelected(UserPrompts& prompts) const;

    // The manual toggle over the selected rows (indices in list order): a
    // row marked for deletion becomes unmarked, any other row is marked.
    void btMarkClick(const std::vector<std::size_t>& selected, UserPrompts& prompts);

    // Every row unmarked.
    void ResetButtonClick();

    // Every row unmarked, then judged afresh; tells the user when nothing
    // ends marked for deletion.
    void btRemarkClick(MessageEvaluator& evaluator,
                       const std::function<const TmsHeaders&(std::size_t)>& headersOf, int mailbox,
                       UserPrompts& prompts);

  private:
    std::vector<MessageRow> rows_;
};

}  // namespace kelvane
