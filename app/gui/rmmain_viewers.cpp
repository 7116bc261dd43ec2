// The main window's context-menu commands: the header and body viewers, the
// reasons report and adding the selected messages to the rule lists. What
// each command means is the core's (app/viewers.h, app/listcommands.h);
// these handlers supply the selection, the windows and the message boxes.

#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include "app/checkpolicy.h"
#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "app/gui/qDelete.h"
#include "app/gui/rmmain.h"
#include "app/gui/vheader.h"
#include "app/listcommands.h"
#include "app/viewers.h"
#include "rules/gui/optsmain.h"
#include "settings/gui/general.h"

namespace kelvane {

void TfrmMain::ConnectListCommands() {
    connect(Why1, &QAction::triggered, this, &TfrmMain::Why1Click);
    connect(AddtoExceptions1, &QAction::triggered, this, &TfrmMain::AddtoExceptions1Click);
    connect(AddtoSPAMlist1, &QAction::triggered, this, &TfrmMain::AddtoSPAMlist1Click);
    connect(ViewHeaders1, &QAction::triggered, this, &TfrmMain::ViewHeader1Click);
    connect(ViewBody1, &QAction::triggered, this, &TfrmMain::ViewMessages1Click);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::UpdateListCommands);
}

void TfrmMain::UpdateListCommands() {
    // While a check, a deletion or a body fetch talks to the server, the
    // list and the client's records are not to be read or driven.
    const bool idle = check_ && options_ && !Busy();
    for (QAction* command : {Why1, AddtoExceptions1, AddtoSPAMlist1, ViewHeaders1, ViewBody1})
        command->setEnabled(idle);
}

ListContext TfrmMain::ListCommandContext() {
    static const TmsHeaders kNoHeaders;
    const TmsRemoteInfo& info = pop_.Info();
    RuleSet& rules = options_->Rules();
    return ListContext{list_,
                       rules.spam,
                       rules.evaluator,
                       [&info](std::size_t i) -> const TmsHeaders& {
                           return i < info.Count() ? info.Item(i).Headers : kNoHeaders;
                       },
                       check_->Mailbox(),
                       where_.programDir,
                       *boxes_};
}

void TfrmMain::ViewHeader1Click() {
    if (Busy() || !check_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    const std::vector<std::size_t> selected = SelectedRows();
    if (selected.empty()) {
        NadaSelected();
        return;
    }
    ShowViewer(ViewerMode::Headers, HeaderViewLines(list_, pop_.Info(), selected), this);
}

void TfrmMain::ViewMessages1Click() {
    if (Busy() || !check_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    BodyViewContext ctx{pop_, list_, where_.programDir, *boxes_, *this, [this](bool fetching) {
                            if (fetching) {
                                disableAllButtons();
                                // The exit button cancels the fetch, as it
                                // cancels a check.
                                SetRunRole();
                                if (isVisible()) {
                                    retrieving_->SetAccount(pop_.UserName(), pop_.Server());
                                    retrieving_->show();
                                    retrieving_->raise();
                                }
                            } else {
                                retrieving_->hide();
                                enableAllButtons();
                                SetIdleRole();
                                // The disabled buttons gave the focus away,
                                // possibly to the exit button.
                                if (isVisible()) ListView1->setFocus(Qt::OtherFocusReason);
                            }
                        }};
    const std::string statusBefore = StatusText().toStdString();
    std::optional<std::vector<std::string>> body;
    try {
        // Counted as a call that drives the client, so nothing else does
        // while the fetch waits for the server.
        ++popCalls_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{popCalls_};
        body = kelvane::ViewMessages1Click(ctx, SelectedRows());
    } catch (const CancelError& e) {
        // The user's own Cancel: the list is as it was, and so is the status line.
        Status(statusBefore);
        ShowError(e.what());
        return;
    } catch (const TransportError& e) {
        BodyFetchFailed(e);
        return;
    } catch (const ServerError& e) {
        BodyFetchFailed(e);
        return;
    } catch (const std::exception& e) {
        ShowError(ShownErrorText(e.what(), pop_.UserName(), pop_.Server()));
        return;
    }
    if (body) ShowViewer(ViewerMode::Body, *body, this);
}

// As a failed check: the status line says what failed, the box which
// mailbox, and a refusal of the server is logged.
void TfrmMain::BodyFetchFailed(const std::exception& e) {
    if (dynamic_cast<const ServerError*>(&e)) {
        try {
            log_.LogError(e.what(), pop_.UserName(), pop_.Server());
        } catch (const KelvaneError&) {
        }
    }
    Status(ShownErrorText(e.what(), pop_.UserName(), pop_.Server()));
    ShowError(FailedMailboxText(e.what(), pop_.UserName(), pop_.Server()));
}

void TfrmMain::Why1Click() {
    if (Busy() || !check_ || !options_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    ListContext ctx = ListCommandContext();
    if (const auto report = kelvane::Why1Click(ctx, SelectedRows()))
        ShowViewer(ViewerMode::Reasons, *report, this);
}

void TfrmMain::AddtoSPAMlist1Click() {
    if (Busy() || !check_ || !options_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    ListContext ctx = ListCommandContext();
    try {
        kelvane::AddtoSPAMlist1Click(ctx, SelectedRows(),
                                     [this](const std::vector<SubjectAndSender>& messages) {
                                         return AskMarkForDeletion(messages, this);
                                     });
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
    }
    model_->Refresh();
    ShowTotalCount();
}

void TfrmMain::AddtoExceptions1Click() {
    if (Busy() || !check_ || !options_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    ListContext ctx = ListCommandContext();
    try {
        kelvane::AddtoExceptions1Click(ctx, SelectedRows());
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
    }
    model_->Refresh();
    ShowTotalCount();
}

}  // namespace kelvane
