#pragma once

// The message list's context-menu commands as the core sees them: the
// reasons report and adding selected messages to the rule lists. The
// windows supply the selection, the dialogs and the message boxes.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/messagelist.h"
#include "base/prompts.h"
#include "rules/addtolist.h"
#include "rules/evaluate.h"
#include "rules/spamsettings.h"

namespace kelvane {

inline constexpr std::string_view kMoreThanOneSelectedText =
    "You have selected more than one message to view.  Only one message can be viewed at one "
    "time.  The first one selected will be displayed.";

struct ListContext {
    MessageList& list;
    SpamSettings& spam;
    MessageEvaluator& evaluator;
    std::function<const TmsHeaders&(std::size_t)> headersOf;
    int mailbox;  // the current connection's slot, 0 when none
    std::string programDir;
    UserPrompts& prompts;
};

// The reasons report for the first selected row (indices in list order),
// or nothing when no row is selected. Marks and hit counts stay as they were.
std::optional<std::vector<std::string>> Why1Click(ListContext& ctx,
                                                  const std::vector<std::size_t>& selected);

// The add-to-spam-list dialog: shown with the messages, it gives the
// choice of its two check boxes on OK and nothing on Cancel.
using MarkForDeletionDialog =
    std::function<std::optional<AddChoice>(const std::vector<SubjectAndSender>&)>;

// Adds the selected messages' rules on OK and saves the rule set; either
// way the whole list is judged afresh.
void AddtoSPAMlist1Click(ListContext& ctx, const std::vector<std::size_t>& selected,
                         const MarkForDeletionDialog& dialog);

// Adds an exception for every selected sender, saves and judges afresh.
void AddtoExceptions1Click(ListContext& ctx, const std::vector<std::size_t>& selected);

}  // namespace kelvane
