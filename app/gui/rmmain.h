#pragma once

// The main window "Kelvane": the check run against one mailbox, the message
// list with its marks, and the deletion of the marked messages. The check,
// the deletion and their policy are the core's (app/checkrun.h); this window
// binds them to buttons, the progress window and message boxes.

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>

#include "app/activitylog.h"
#include "app/checkrun.h"
#include "app/messagelist.h"
#include "mail/mspop3.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class QTreeView;

namespace kelvane {

class MessageListModel;
struct ListContext;
class TfrmGeneral;
class TfrmOptionsMain;
class TfrmRetrieving;

class TfrmMain : public QMainWindow, private CheckView {
    Q_OBJECT
  public:
    explicit TfrmMain(const Locations& where, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Reads the start-up settings and shows the window.
    void FormCreate();
    // The long-lived dialogs the window consults, once they exist.
    void SetDialogs(TfrmOptionsMain& options, TfrmRetrieving& retrieving, TfrmGeneral& general);
    // Message boxes go here instead of to QMessageBoxes (tests answer them).
    void SetMessageBoxes(ui::MessageBoxes* boxes);
    // A second start of the program asks for the window.
    void RestoreOrRaise();

    void btListClick();
    void btExitClick();
    void btMarkClick();
    void btDeleteClick();
    void DeleteMessages();
    void btRemarkClick();
    void ResetButtonClick();
    void btLaunchClick();
    void btGeneralClick();
    void btSpamSetupClick();
    void btHelpClick();
    void btAboutClick();
    void ShowTotalCount();
    void NadaSelected();
    void disableAllButtons();
    void enableAllButtons();

    // The list's context menu (rmmain_viewers.cpp).
    void ViewHeader1Click();
    void ViewMessages1Click();
    void Why1Click();
    void AddtoSPAMlist1Click();
    void AddtoExceptions1Click();

    // A check or a deletion is under way (or failed and awaits Cancel), or
    // the POP3 client is inside a call: nothing may drive it again.
    bool Busy() const;
    MessageList& List() { return list_; }
    TmsRemotePOP& Pop() { return pop_; }
    MessageListModel& Model() { return *model_; }
    int CurrentMailbox() const { return currentMailbox_; }
    QString StatusText() const;

    QLabel* lblTitle;
    QLabel* Label1;
    QLabel* lblAd;
    QToolButton* btList;
    QToolButton* btOptions;
    QToolButton* btExit;
    QToolButton* btMark;
    QToolButton* btDelete;
    QToolButton* btRemark;
    QToolButton* btResetAll;
    QToolButton* btLaunch;
    QAction* btGeneral;
    QAction* btSpamSetup;
    QAction* btAbout;
    QAction* btHelp;
    QTreeView* ListView1;
    QMenu* PopupMenu1;
    QAction* Why1;
    QAction* AddtoExceptions1;
    QAction* AddtoSPAMlist1;
    QAction* ViewHeaders1;
    QAction* ViewBody1;
    QLabel* pnlHint;
    QLabel* pnlStatus;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // CheckView
    void Status(const std::string& text) override;
    void Progress(const std::string& text) override;
    void RowsChanged() override;
    void DeletionStarting() override;

    void BuildWindow();
    QToolButton* AddButton(const char* name, const QString& caption);
    void SetCaption(QToolButton* button, const QString& caption);
    void LoadCurrentAccount();
    void FinishCheck(bool timerRan);
    void CancelRun();
    void msRemotePOP1Cancel();
    void msRemotePOP1Error();
    void SetRunRole();
    void SetIdleRole();
    void UpdateExitFace();
    void UpdateListFace();
    void StopAlarm() {}
    void ListView1Click() { StopAlarm(); }
    void ListView1KeyUp() { StopAlarm(); }
    void ShowPopupMenu(const QPoint& globalPos);
    void ConnectListCommands();
    // A command that cannot run at this moment is disabled.
    void UpdateListCommands();
    ListContext ListCommandContext();
    std::vector<std::size_t> SelectedRows() const;
    // The general error display: a message box while the window is shown,
    // nothing while it is hidden.
    void ShowError(const std::string& text);
    // Hides into the tray; until the tray exists, minimises so the program
    // is never left invisible.
    void HideToTray();

    Locations where_;
    TmsRemotePOP pop_;
    MessageList list_;
    ActivityLog log_;
    std::unique_ptr<MailCheck> check_;
    MessageListModel* model_ = nullptr;
    TfrmOptionsMain* options_ = nullptr;
    TfrmRetrieving* retrieving_ = nullptr;
    TfrmGeneral* general_ = nullptr;
    ui::QtMessageBoxes ownBoxes_{this};
    ui::MessageBoxes* boxes_ = &ownBoxes_;
    QTimer minuteTimer_;

    bool startInTray_ = false;
    bool automatic_ = false;
    int minutes_ = 10;  // the minute countdown
    int currentMailbox_ = 1;
    bool running_ = false;  // the run state: buttons disabled, exit button cancels
    int popCalls_ = 0;      // core calls on the stack that drive the POP3 client
    bool aboutOpen_ = false;
};

}  // namespace kelvane
