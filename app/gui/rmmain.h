#pragma once

// The main window "Kelvane": the check run against one mailbox, the message
// list with its marks, the deletion of the marked messages, and automatic
// mode with its countdown, tray icon and alarm. The check, the deletion,
// the walk and their policy are the core's (app/checkrun.h,
// app/checkpolicy.h); this window binds them to buttons, the progress
// window, the tray and message boxes. Its controls are built in
// rmmainform.cpp.

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "app/activitylog.h"
#include "app/checkrun.h"
#include "app/gui/countdown.h"
#include "app/gui/mainsettings.h"
#include "app/gui/networkwatch.h"
#include "app/gui/notifier.h"
#include "app/gui/rmmainform.h"
#include "app/messagelist.h"
#include "app/runnotice.h"
#include "mail/mspop3.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"
#include "ui/sound.h"
#include "ui/tray.h"

namespace kelvane {

class MessageListModel;
struct ListContext;
class TfrmGeneral;
class TfrmOptionsMain;
class TfrmRetrieving;

class TfrmMain : public QMainWindow, public TfrmMainForm, private CheckView {
    Q_OBJECT
  public:
    // What the window needs of the desktop; each left empty is the real one.
    struct Platform {
        std::unique_ptr<MinuteClock> clock;
        std::function<std::unique_ptr<ui::TrayIcon>()> makeTray;
        std::unique_ptr<ui::Sound> sound;
        // Whether an unattended run may start (network, sleep); the desktop
        // notifications after one.
        std::unique_ptr<RunGate> gate;
        std::unique_ptr<Notifier> notifier;
        // How long to wait for the desktop's tray host at start (ms).
        int trayWaitMs = 30000;
    };

    explicit TfrmMain(const Locations& where, QWidget* parent = nullptr);
    TfrmMain(const Locations& where, Platform platform, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Reads the start-up settings and shows the window, or waits for the
    // tray when starting in it.
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
    // The window of the kept copies of deleted messages.
    void btDeletedClick();
    void btHelpClick();
    void btAboutClick();
    void ShowTotalCount();
    void NadaSelected();
    void disableAllButtons();
    void enableAllButtons();
    // The unattended walk over every mailbox, when the countdown ends.
    void AutomaticCheck();
    // The countdown ran out: the walk, or its postponement while offline.
    void AutomaticCheckDue();
    // Tells the gate when the next unattended run falls due.
    void UpdateRunDue();
    // One desktop notification of what an unattended walk did, when on.
    void Notify(const std::vector<MailboxRunResult>& results);
    // Both tray items "Enable automatic check" and "Disable automatic check".
    void EnableAutomatic1Click(bool on);
    void playAlarmSound(bool play);
    // The tray's "Exit": ends the program, also while the window would hide
    // into the tray on closing.
    void Exit1Click();

    // The list's context menu (rmmain_viewers.cpp).
    void ViewHeader1Click();
    void ViewMessages1Click();
    void Why1Click();
    void AddtoSPAMlist1Click();
    void AddtoExceptions1Click();

    // A check or a deletion is under way, or the POP3 client is inside a
    // call: nothing may drive it again.
    bool Busy() const;
    MessageList& List() { return list_; }
    TmsRemotePOP& Pop() { return pop_; }
    MessageListModel& Model() { return *model_; }
    Countdown& Timer() { return countdown_; }
    int CurrentMailbox() const { return currentMailbox_; }
    const MainSettings& Settings() const { return settings_; }
    ui::TrayIcon* Tray() { return tray_.get(); }
    QString StatusText() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class WalkReportView;

    // CheckView
    void Status(const std::string& text) override;
    void Progress(const std::string& text) override;
    void RowsChanged() override;
    void DeletionStarting() override;
    void Canceled() override;
    void Failed(const std::string& text) override;

    void Connect();
    // Re-reads the general settings from the store: at start, after the
    // settings dialog, before every run.
    void ReadSettings();
    void LoadCurrentAccount();
    void StartTray();
    void EndRun();
    void CancelRun();
    void SetRunRole();
    void SetIdleRole();
    void UpdateExitFace();
    void UpdateListFace();
    void ShowMailbox();
    void StopAlarm() { playAlarmSound(false); }
    void ShowPopupMenu(const QPoint& globalPos);
    void ConnectListCommands();
    // A command that cannot run at this moment is disabled.
    void UpdateListCommands();
    ListContext ListCommandContext();
    void ViewLogFile1Click();
    std::vector<std::size_t> SelectedRows() const;
    // The general error display: a message box while the window is shown,
    // nothing while it is hidden.
    void ShowError(const std::string& text);
    // A failed check or deletion: the run ends, the status line and the log
    // say what failed, and the box names the mailbox.
    void RunFailed(const std::exception& e);
    void BodyFetchFailed(const std::exception& e);
    void HideToTray();
    void SaveLayout();
    void RestoreLayout();

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
    Platform platform_;
    Countdown countdown_;
    std::unique_ptr<ui::Sound> sound_;
    std::unique_ptr<ui::TrayIcon> tray_;
    std::unique_ptr<RunGate> gate_;
    std::unique_ptr<Notifier> notifier_;
    MainSettings settings_;

    int currentMailbox_ = 1;
    bool running_ = false;   // the run state: buttons disabled, exit button cancels
    bool canceled_ = false;  // the user canceled the running walk or check
    int popCalls_ = 0;       // core calls on the stack that drive the POP3 client
    bool aboutOpen_ = false;
    bool quitting_ = false;          // the tray's Exit: closing ends the program
    QWidget* runStarter_ = nullptr;  // gets the focus back when the run ends
};

}  // namespace kelvane
