#include "app/listcommands.h"

namespace kelvane {

std::optional<std::vector<std::string>> Why1Click(ListContext& ctx,
                                                  const std::vector<std::size_t>& selected) {
    if (selected.empty() || selected.front() >= ctx.list.Count()) {
        ctx.list.NadaSelected(ctx.prompts);
        return std::nullopt;
    }
    if (selected.size() > 1) ctx.prompts.Information(std::string(kMoreThanOneSelectedText));
    const std::size_t row = selected.front();
    return ReasonsReport(ctx.evaluator, ctx.list.Rows()[row], ctx.headersOf(row), ctx.mailbox);
}

void AddtoSPAMlist1Click(ListContext& ctx, const std::vector<std::size_t>& selected,
                         const MarkForDeletionDialog& dialog) {
    if (selected.empty()) {
        ctx.list.NadaSelected(ctx.prompts);
        return;
    }
    std::vector<SubjectAndSender> messages;
    for (std::size_t i : selected) {
        if (i >= ctx.list.Count()) continue;
        const MessageRow& r = ctx.list.Rows()[i];
        messages.push_back({r.subject, r.sender});
        if (messages.size() == kAddToListRows) break;  // all the dialog can hold
    }
    if (std::optional<AddChoice> choice = dialog(messages)) {
        AddMessagesToSpamList(ctx.spam, messages, *choice);
        ctx.spam.Savesettings(ctx.programDir, SaveMode::Explicit);
    }
    ctx.list.btRemarkClick(ctx.evaluator, ctx.headersOf, ctx.mailbox, ctx.prompts);
}

void AddtoExceptions1Click(ListContext& ctx, const std::vector<std::size_t>& selected) {
    if (selected.empty()) {
        ctx.list.NadaSelected(ctx.prompts);
        return;
    }
    for (std::size_t i : selected)
        if (i < ctx.list.Count()) AddSenderException(ctx.spam, ctx.list.Rows()[i].sender);
    ctx.spam.Savesettings(ctx.programDir, SaveMode::Explicit);
    ctx.list.btRemarkClick(ctx.evaluator, ctx.headersOf, ctx.mailbox, ctx.prompts);
}

}  // namespace kelvane
