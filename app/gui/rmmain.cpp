#include "app/gui/rmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "app/checkpolicy.h"
#include "app/deletedstore.h"
#include "app/gui/deletedwindow.h"
#include "app/gui/desktopbus.h"
#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "app/viewers.h"
#include "base/text.h"
#include "rules/gui/optsmain.h"
#include "settings/gui/general.h"
#include "settings/gui/which.h"
#include "settings/keys.h"
#include "ui/desktop.h"
#include "ui/displaytext.h"
#include "ui/elidedlabel.h"
#include "ui/eventpump.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

constexpr const char* kLogError = "Unable to open log file. ";
constexpr const char* kCancelCaption = "Cancel";
constexpr const char* kNoTrayText =
    "No system tray was found on this desktop, so Kelvane shows its window instead";

// Counts the core calls on the stack that drive the POP3 client.
class PopCall {
  public:
    explicit PopCall(int& depth) : depth_(depth) { ++depth_; }
    ~PopCall() { --depth_; }
    PopCall(const PopCall&) = delete;
    PopCall& operator=(const PopCall&) = delete;

  private:
    int& depth_;
};

}  // namespace

// The window as the report of the unattended walk.
class TfrmMain::WalkReportView : public WalkReport {
  public:
    explicit WalkReportView(TfrmMain& w) : w_(w) {}
    void MailboxStarting(int slot, const PopSettings& account) override {
        results.push_back({account.userName, account.host, 0, 0});
        w_.currentMailbox_ = slot;
        w_.ShowMailbox();
        if (w_.tray_) w_.tray_->SetMenuEnabled(false);
        if (w_.isVisible()) {
            w_.retrieving_->SetAccount(account.userName, account.host);
            w_.retrieving_->show();
        }
    }
    void Listed(const MailCheck& check) override {
        if (w_.tray_) w_.tray_->SetMenuEnabled(true);
        w_.retrieving_->hide();
        w_.UpdateListFace();
        if (check.Listed() > 0 && deleting_) mailLeft = true;
    }
    void Deleted(int marked) override {
        deleting_ = true;
        if (!results.empty()) results.back().deleted += marked;
        w_.Status(DeletedText(marked));
        if (w_.tray_) w_.tray_->SetHint(QString::number(marked) + " spams deleted");
    }
    void Failed(const std::string& text) override {
        if (w_.tray_) w_.tray_->SetMenuEnabled(true);
        w_.retrieving_->hide();
        // While hidden nobody is there to answer a box; the status line and
        // the log keep what failed.
        w_.Status(text);
        w_.ShowError(FailedMailboxText(text, w_.pop_.UserName(), w_.pop_.Server()));
    }
    bool mailLeft = false;                  // a deletion left mail to read somewhere
    std::vector<MailboxRunResult> results;  // what the notification tells

  private:
    TfrmMain& w_;
    bool deleting_ = false;
};

TfrmMain::TfrmMain(const Locations& where, QWidget* parent) : TfrmMain(where, Platform(), parent) {}

TfrmMain::TfrmMain(const Locations& where, Platform platform, QWidget* parent)
    : QMainWindow(parent),
      where_(where),
      // The log's name is read afresh at every opening, so a change made
      // with kelvane-cli or the settings takes effect at the next line.
      log_([where] { return keys::Read(SettingsStore::OpenUser(where), keys::Logfile); }),
      platform_(std::move(platform)),
      countdown_(platform_.clock ? std::move(platform_.clock) : MakeMinuteClock()),
      sound_(platform_.sound ? std::move(platform_.sound) : ui::MakeSound()),
      gate_(platform_.gate
                ? std::move(platform_.gate)
                : std::make_unique<NetworkWatch>(DesktopBus(QDBusConnection::SystemBus))),
      notifier_(platform_.notifier
                    ? std::move(platform_.notifier)
                    : std::make_unique<DesktopNotifier>(DesktopBus(QDBusConnection::SessionBus))) {
    setObjectName("TfrmMain");
    if (!platform_.makeTray) platform_.makeTray = [] { return ui::MakeTrayIcon(); };
    ui::InstallEventPump(pop_);
    list_.Clear();
    model_ = new MessageListModel(list_, this);
    SetupForm(this, model_);
    Connect();
    SetIdleRole();
    UpdateListFace();
}

TfrmMain::~TfrmMain() {
    // The members (sound, tray, countdown) go before the widget base does:
    // nothing the base's closing and hiding sends may reach this window.
    for (QObject* child : findChildren<QObject*>())
        child->removeEventFilter(this);
    hide();
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    countdown_.OnCaption = nullptr;
    countdown_.OnMode = nullptr;
    countdown_.OnRun = nullptr;
}

void TfrmMain::Connect() {
    connect(btList, &QToolButton::clicked, this, [this] {
        runStarter_ = btList;
        btListClick();
    });
    connect(btExit, &QToolButton::clicked, this, &TfrmMain::btExitClick);
    connect(btMark, &QToolButton::clicked, this, &TfrmMain::btMarkClick);
    connect(btDelete, &QToolButton::clicked, this, [this] {
        runStarter_ = btDelete;
        btDeleteClick();
    });
    connect(btRemark, &QToolButton::clicked, this, &TfrmMain::btRemarkClick);
    connect(btResetAll, &QToolButton::clicked, this, &TfrmMain::ResetButtonClick);
    connect(btLaunch, &QToolButton::clicked, this, &TfrmMain::btLaunchClick);
    connect(btGeneral, &QAction::triggered, this, &TfrmMain::btGeneralClick);
    connect(btSpamSetup, &QAction::triggered, this, &TfrmMain::btSpamSetupClick);
    connect(btDeleted, &QAction::triggered, this, &TfrmMain::btDeletedClick);
    connect(btAbout, &QAction::triggered, this, &TfrmMain::btAboutClick);
    connect(btHelp, &QAction::triggered, this, &TfrmMain::btHelpClick);
    btExit->installEventFilter(this);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    ConnectListCommands();

    connect(popTray, &QMenu::aboutToShow, this, [this] { StopAlarm(); });
    connect(Show1, &QAction::triggered, this, [this] {
        if (Busy()) return;
        RestoreOrRaise();
        btListClick();
    });
    connect(LaunchEmailprogram1, &QAction::triggered, this, &TfrmMain::btLaunchClick);
    connect(ShowMainScreen1, &QAction::triggered, this, &TfrmMain::RestoreOrRaise);
    connect(Spam1, &QAction::triggered, this, &TfrmMain::btSpamSetupClick);
    connect(General1, &QAction::triggered, this, &TfrmMain::btGeneralClick);
    connect(ViewLogFile1, &QAction::triggered, this, &TfrmMain::ViewLogFile1Click);
    connect(EnableAutomatic1, &QAction::triggered, this, [this] { EnableAutomatic1Click(true); });
    connect(DisableAutomatic1, &QAction::triggered, this, [this] { EnableAutomatic1Click(false); });
    connect(Help1, &QAction::triggered, this, &TfrmMain::btHelpClick);
    connect(About1, &QAction::triggered, this, &TfrmMain::btAboutClick);
    connect(Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);

    countdown_.OnCaption = [this](const QString& caption) {
        UpdateRunDue();
        setWindowTitle(caption);
        lblTitle->setText(caption);
        if (tray_) tray_->SetHint(caption);
    };
    countdown_.OnMode = [this](bool automatic) {
        EnableAutomatic1->setChecked(automatic);
        DisableAutomatic1->setChecked(!automatic);
        if (tray_) tray_->SetAnimated(automatic);
    };
    countdown_.OnRun = [this] { AutomaticCheckDue(); };
    gate_->SetOnRunDue([this] {
        AutomaticCheck();
        countdown_.Reset();
        countdown_.UpdateAutomaticCaptions(countdown_.Automatic(), countdown_.Interval());
    });
    notifier_->SetOnActivated([this] {
        StopAlarm();
        RestoreOrRaise();
    });
}

void TfrmMain::ReadSettings() {
    settings_ = MainSettings::Read(SettingsStore::OpenUser(where_));
    countdown_.SetInterval(settings_.minutes);
}

void TfrmMain::FormCreate() {
    ReadSettings();
    // Message files of bodies viewed in an earlier run.
    CleanUpEMLFiles(where_.programDir);
    DeletedStore::CleanUpOpenedCopies(where_.programDir);
    currentMailbox_ = settings_.defaultMailbox;
    // The first countdown is the stored interval as it is; the dialog's
    // limits are for what the user types.
    countdown_.Setup(settings_.automatic, settings_.minutes, settings_.minutes);
    SetIdleRole();
    RestoreLayout();
    if (settings_.startInTray) {
        if (platform_.trayWaitMs <= 0)
            StartTray();
        else
            ui::WaitForTrayHost(this, platform_.trayWaitMs, [this] { StartTray(); });
        return;
    }
    RestoreOrRaise();
}

void TfrmMain::StartTray() {
    tray_ = platform_.makeTray();
    if (!tray_ || !tray_->Available()) {
        // Never an invisible program.
        tray_.reset();
        RestoreOrRaise();
        Status(kNoTrayText);
        return;
    }
    tray_->SetMenu(popTray);
    tray_->SetHint(windowTitle());
    tray_->SetAnimated(countdown_.Automatic());
    tray_->OnActivated = [this] {
        StopAlarm();
        RestoreOrRaise();
    };
    tray_->Show();
}

void TfrmMain::RestoreLayout() {
    try {
        const SettingsStore user = SettingsStore::OpenUser(where_);
        const std::string geometry = keys::Read(user, keys::MainGeometry);
        for (int c = 1; c < MessageListModel::ColumnCount; ++c) {
            const int width = user.ReadInteger(keys::MainGridSection, "col" + std::to_string(c),
                                               keys::ColumnWidthDefault);
            if (width > 0) ListView1->setColumnWidth(c, width);
        }
        if (!geometry.empty() &&
            restoreGeometry(QByteArray::fromHex(QByteArray::fromStdString(geometry))))
            return;
    } catch (const KelvaneError&) {
        // The designed layout is as good a start.
    }
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmMain::SaveLayout() {
    try {
        SettingsStore user = SettingsStore::OpenUser(where_);
        user.Batch([&] {
            keys::Write(user, keys::MainGeometry, saveGeometry().toHex().toStdString());
            for (int c = 1; c < MessageListModel::ColumnCount; ++c)
                user.WriteInteger(keys::MainGridSection, "col" + std::to_string(c),
                                  ListView1->columnWidth(c));
        });
    } catch (const KelvaneError&) {
        // A layout that cannot be kept must not stop the program ending.
    }
}

void TfrmMain::SetDialogs(TfrmOptionsMain& options, TfrmRetrieving& retrieving,
                          TfrmGeneral& general) {
    options_ = &options;
    retrieving_ = &retrieving;
    general_ = &general;
    general.OnLaunch = [this] { btLaunchClick(); };
    general.SetSound(sound_.get());
    // The spam settings' Help opens the same page at its topic; the countdown is
    // already paused while that dialog is up.
    connect(&options, &TfrmOptionsMain::helpRequested, this,
            [this](int topic) { ui::OpenHelp(ui::SystemDesktop(), *boxes_, where_, topic); });
    check_ = std::make_unique<MailCheck>(pop_, list_, options.Rules().evaluator, log_,
                                         static_cast<CheckView&>(*this));
    check_->KeepCopiesIn(where_);
    retrieving_->OnCancelClick = [this] { CancelRun(); };
    LoadCurrentAccount();

    if (!options.Warnings().empty()) {
        std::string text;
        for (const std::string& w : options.Warnings())
            text += w + "\n";
        boxes_->Warning(text);
    }
}

void TfrmMain::SetMessageBoxes(ui::MessageBoxes* boxes) {
    boxes_ = boxes ? boxes : &ownBoxes_;
}

void TfrmMain::RestoreOrRaise() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

bool TfrmMain::Busy() const {
    return running_ || popCalls_ > 0 || (check_ && (check_->Checking() || check_->Deleting()));
}

QString TfrmMain::StatusText() const {
    return pnlStatus->text();
}

void TfrmMain::LoadCurrentAccount() {
    LoadMailbox(*check_, SettingsStore::OpenUser(where_), currentMailbox_);
    ShowMailbox();
}

void TfrmMain::ShowMailbox() {
    // The caption and the status line belong to other texts; this panel
    // always says whose list it is.
    pnlMailbox->SetText(pop_.UserName().empty() ? QString()
                                                : QString("Mailbox %1: %2 on %3")
                                                      .arg(currentMailbox_)
                                                      .arg(ui::DisplayText(pop_.UserName()),
                                                           ui::DisplayText(pop_.Server())));
}

// ---------------------------------------------------------------- check run

void TfrmMain::btListClick() {
    // The run state disables the button; this also holds for a click queued
    // while a wait dispatches events, and for callers other than the button.
    if (Busy() || !check_) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    // The account comes from the store as it is now, which another program
    // may have left unreadable: that is told, and no check starts.
    try {
        LoadCurrentAccount();
        ReadSettings();
        if (auto missing = check_->MissingAccountText()) {
            boxes_->Error(*missing);
            btGeneralClick();
            return;
        }
        if (countdown_.Left() > 0 && isVisible()) {
            general_->ReadMailboxes();
            if (NeedsChooser(general_->Table())) {
                const std::optional<int> chosen =
                    ChooseMailbox(general_->Table(), currentMailbox_, this);
                if (!chosen || Busy()) return;
                currentMailbox_ = *chosen;
            }
            LoadCurrentAccount();
            // The chosen slot may lack what the first one had.
            if (auto missing = check_->MissingAccountText()) {
                boxes_->Error(*missing);
                btGeneralClick();
                return;
            }
        }
        // From the keyring or the password command, before anything
        // connects; only a check started by hand may see an unlock prompt.
        const SettingsStore user = SettingsStore::OpenUser(where_);
        PopSettings account = GetRemotePOPSettings(user, currentMailbox_);
        FetchSlotPassword(user, currentMailbox_, account,
                          *MakeDesktopSecretStore(isVisible() && general_->ManualMode()));
        pop_.SetPassword(account.password);
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    running_ = true;
    canceled_ = false;
    SetRunRole();
    disableAllButtons();
    if (isVisible()) {
        retrieving_->SetAccount(pop_.UserName(), pop_.Server());
        retrieving_->show();
        retrieving_->raise();
    }
    if (tray_) tray_->SetMenuEnabled(false);
    try {
        PopCall call(popCalls_);
        check_->UpdateInfo();
    } catch (const CancelError& e) {
        if (tray_) tray_->SetMenuEnabled(true);
        // Cancel has restored the window already; a canceled run is not a
        // check, so no "MAIL CHECK" line, also when the window was closed.
        ShowError(e.what());
        return;
    } catch (const std::exception& e) {
        if (tray_) tray_->SetMenuEnabled(true);
        if (isVisible()) {
            RunFailed(e);
            return;
        }
        // Hidden: the run goes on with what arrived.
    }
    if (tray_) tray_->SetMenuEnabled(true);
    EndRun();
    try {
        check_->LogMailCheck();
    } catch (const KelvaneError& e) {
        ShowError(e.what());
    }
    if (list_.Count() == 0 && !settings_.automatic && settings_.exitAfterCheck) {
        if (settings_.startInTray)
            HideToTray();
        else
            close();
    }
    ShowTotalCount();
    try {
        SaveHitCounts(options_->Rules(), where_.programDir);
    } catch (const KelvaneError& e) {
        ShowError(e.what());
    }
}

void TfrmMain::EndRun() {
    running_ = false;
    retrieving_->hide();
    enableAllButtons();
    SetIdleRole();
    UpdateListFace();
    // The focus was on the exit button while the others were disabled; a
    // Space there now would end the program.
    if (isVisible()) {
        QWidget* next = list_.Count() > 0 ? static_cast<QWidget*>(ListView1) : runStarter_;
        if (!next || !next->isVisible() || !next->isEnabled()) next = ListView1;
        next->setFocus(Qt::OtherFocusReason);
    }
    runStarter_ = nullptr;
}

void TfrmMain::RunFailed(const std::exception& e) {
    const std::string text = ShownErrorText(e.what(), pop_.UserName(), pop_.Server());
    // Connection errors were logged on their way; a refusal of the server
    // is logged here.
    if (dynamic_cast<const ServerError*>(&e)) {
        try {
            log_.LogError(e.what(), pop_.UserName(), pop_.Server());
        } catch (const KelvaneError&) {
        }
    }
    EndRun();
    Status(text);
    ShowError(FailedMailboxText(e.what(), pop_.UserName(), pop_.Server()));
}

void TfrmMain::CancelRun() {
    if (!check_) return;
    canceled_ = true;
    check_->Cancel();
    EndRun();
}

void TfrmMain::Canceled() {
    SetIdleRole();
    UpdateListFace();
    if (tray_) tray_->ShowHammer();
}

void TfrmMain::Failed(const std::string&) {
    UpdateListFace();
}

void TfrmMain::Status(const std::string& text) {
    pnlStatus->SetText(ui::DisplayText(text));
}

void TfrmMain::Progress(const std::string& text) {
    if (retrieving_) retrieving_->lblMsg->setText(ui::DisplayText(text));
}

void TfrmMain::RowsChanged() {
    model_->Refresh();
}

void TfrmMain::ShowError(const std::string& text) {
    if (isVisible()) boxes_->Error(text);
}

// ---------------------------------------------------------------- automatic mode

void TfrmMain::UpdateRunDue() {
    if (!gate_) return;
    gate_->SetNextRunDue(countdown_.Automatic()
                             ? QDateTime::currentDateTime().addSecs(60LL * countdown_.Left())
                             : QDateTime());
}

void TfrmMain::AutomaticCheckDue() {
    if (!gate_->MayRunNow()) {
        // Offline: no connection attempt and no error box; the run starts
        // once the network is back.
        log_.LogAutomaticPostponed();
        gate_->Postpone();
        return;
    }
    AutomaticCheck();
}

void TfrmMain::AutomaticCheck() {
    if (Busy() || !check_) return;
    auto pause = countdown_.Pause();
    try {
        ReadSettings();
    } catch (const KelvaneError& e) {
        Status(e.what());
        return;
    }
    WalkOptions walk;
    walk.all = true;
    walk.remove = settings_.kill;
    walk.stopAtMail = !settings_.kill;
    // With the window up someone is there to read why the walk ended.
    walk.endAtFailure = isVisible();
    running_ = true;
    canceled_ = false;
    SetRunRole();
    disableAllButtons();
    WalkReportView report(*this);
    try {
        PopCall call(popCalls_);
        RunChecks(*check_, options_->Rules(), where_, walk, report, [this] { return canceled_; });
    } catch (const KelvaneError& e) {
        // The store or the rule files, between two mailboxes.
        report.Failed(e.what());
    }
    if (tray_) tray_->SetMenuEnabled(true);
    EndRun();
    if (!settings_.kill && list_.Count() > 0 && !canceled_) {
        // The client keeps this mailbox's account and the current number
        // stays this slot, so a deletion of the rows shown acts here only.
        countdown_.OnCaption(ui::DisplayText("MailBox " + pop_.UserName() + " - " +
                                             std::to_string(list_.Count()) + " messages"));
        Label1->hide();
        if (!report.results.empty()) report.results.back().waiting = int(list_.Count());
        Notify(report.results);
        RestoreOrRaise();
        if (settings_.alarm) playAlarmSound(true);
        return;
    }
    if (!canceled_) Notify(report.results);
    // The caption counts again, and the tray hint with it.
    countdown_.UpdateAutomaticCaptions(settings_.automatic, countdown_.Interval());
    if (report.mailLeft && settings_.launch && isVisible()) btLaunchClick();
    if (list_.Count() == 0) {
        // Nothing shown belongs to a mailbox: back to the default one.
        currentMailbox_ = settings_.defaultMailbox;
        try {
            LoadCurrentAccount();
        } catch (const KelvaneError& e) {
            Status(e.what());
        }
    }
}

void TfrmMain::Notify(const std::vector<MailboxRunResult>& results) {
    const std::string text = RunNoticeText(results);
    if (text.empty()) return;
    try {
        if (!keys::Read(SettingsStore::OpenUser(where_), keys::Notify)) return;
    } catch (const KelvaneError&) {
        return;  // a store that cannot be read says so elsewhere
    }
    notifier_->Show(ui::DisplayText(text));
}

void TfrmMain::EnableAutomatic1Click(bool on) {
    StopAlarm();
    try {
        SettingsStore user = SettingsStore::OpenUser(where_);
        keys::Write(user, keys::Automatic, on);
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        countdown_.OnMode(countdown_.Automatic());
        return;
    }
    settings_.automatic = on;
    if (!on) countdown_.Reset();
    // The settings dialog's radio buttons read the store.
    if (general_) general_->ReadSettings();
    countdown_.UpdateAutomaticCaptions(on, countdown_.Interval());
    try {
        log_.LogAutomaticMode(on);
    } catch (const KelvaneError& e) {
        Status(e.what());
    }
}

void TfrmMain::playAlarmSound(bool play) {
    if (!play) {
        sound_->Stop();
        return;
    }
    QString file = ui::DisplayText(settings_.alarmFile);
    if (file.isEmpty()) file = QDir(ui::DisplayText(where_.programDir)).filePath("harptune.wav");
    if (QFileInfo(file).isFile())
        sound_->Play(file, settings_.repeat);
    else
        sound_->Beep();
}

// ---------------------------------------------------------------- buttons

void TfrmMain::disableAllButtons() {
    btList->setEnabled(false);
    btOptions->setEnabled(false);
    for (QToolButton* b : {btMark, btResetAll, btLaunch, btDelete, btRemark})
        b->hide();
    lblAd->show();
}

void TfrmMain::enableAllButtons() {
    btList->setEnabled(true);
    btOptions->setEnabled(true);
    if (list_.Count() == 0) return;
    for (QToolButton* b : {btMark, btResetAll, btLaunch, btDelete, btRemark})
        b->show();
    lblAd->hide();
}

void TfrmMain::SetRunRole() {
    SetCaption(btExit, "Ca&ncel");
    Exit1->setText(kCancelCaption);
    // The tray's commands would drive the client inside its wait.
    for (QAction* item : {Show1, LaunchEmailprogram1, Spam1, General1, Help1, About1})
        item->setEnabled(false);
    UpdateExitFace();
}

void TfrmMain::SetIdleRole() {
    SetCaption(btExit, settings_.startInTray ? "&Hide" : "&Goodbye");
    Exit1->setText("Exit");
    for (QAction* item : {Show1, LaunchEmailprogram1, Spam1, General1, Help1, About1})
        item->setEnabled(true);
    UpdateExitFace();
}

void TfrmMain::UpdateExitFace() {
    if (PlainCaption(btExit) == kCancelCaption)
        btExit->setIcon(ui::Icon(ui::Picture::Stop));
    else
        btExit->setIcon(btExit->hasFocus() ? ui::OwnIcon(ui::Picture::Goodbye)
                                           : ui::Icon(ui::Picture::Door));
}

void TfrmMain::UpdateListFace() {
    btList->setIcon(ui::Icon(list_.Count() > 0 ? ui::Picture::Up : ui::Picture::Down));
}

void TfrmMain::btExitClick() {
    StopAlarm();
    if (PlainCaption(btExit) == kCancelCaption) {
        CancelRun();
        return;
    }
    log_.CloseLogFile();
    if (settings_.startInTray && tray_)
        HideToTray();
    else
        close();
}

void TfrmMain::Exit1Click() {
    StopAlarm();
    if (PlainCaption(btExit) == kCancelCaption) {
        CancelRun();
        return;
    }
    log_.CloseLogFile();
    quitting_ = true;
    close();
    QCoreApplication::exit(0);
}

void TfrmMain::HideToTray() {
    // Without a tray icon a hidden window could never come back.
    if (tray_)
        hide();
    else
        showMinimized();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    SaveLayout();
    if (settings_.startInTray && tray_ && !quitting_) {
        // The window's close button hides into the tray, as "Hide" does.
        hide();
        event->ignore();
        return;
    }
    // Closing in the middle of a wait ends the run first, without QUIT, so
    // nothing half done takes effect and no command is sent into the
    // middle of a reply.
    if (Busy()) CancelRun();
    if (pop_.Connected() && popCalls_ == 0) {
        try {
            PopCall call(popCalls_);
            pop_.Disconnect();
        } catch (const KelvaneError&) {
            pop_.Close();
        }
    }
    StopAlarm();
    if (retrieving_) retrieving_->hide();
    event->accept();
}

// ---------------------------------------------------------------- the list

std::vector<std::size_t> TfrmMain::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmMain::btMarkClick() {
    StopAlarm();
    list_.btMarkClick(SelectedRows(), *boxes_);
    model_->Refresh();
}

void TfrmMain::NadaSelected() {
    list_.NadaSelected(*boxes_);
}

void TfrmMain::ResetButtonClick() {
    StopAlarm();
    list_.ResetButtonClick();
    model_->Refresh();
    ShowTotalCount();
}

void TfrmMain::btRemarkClick() {
    if (!check_) return;
    StopAlarm();
    const TmsRemoteInfo& info = pop_.Info();
    static const TmsHeaders kNoHeaders;
    list_.btRemarkClick(
        options_->Rules().evaluator,
        [&info](std::size_t i) -> const TmsHeaders& {
            return i < info.Count() ? info.Item(i).Headers : kNoHeaders;
        },
        check_->Mailbox(), *boxes_);
    model_->Refresh();
    ShowTotalCount();
}

void TfrmMain::ShowTotalCount() {
    Status(list_.CountLine());
}

void TfrmMain::ShowPopupMenu(const QPoint& globalPos) {
    PopupMenu1->popup(globalPos);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == btExit &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        UpdateExitFace();
    if (watched == ListView1->viewport()) {
        switch (event->type()) {
            case QEvent::MouseButtonDblClick:
                btMarkClick();
                return true;
            case QEvent::MouseButtonRelease:
                StopAlarm();
                break;
            default:
                break;
        }
    }
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Space marks, as a double click does; selecting is for the arrows.
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            btMarkClick();
            return true;
        }
    }
    if (watched == ListView1 || watched == ListView1->viewport()) {
        if (event->type() == QEvent::KeyRelease) StopAlarm();
        if (event->type() == QEvent::ContextMenu) {
            auto* menuEvent = static_cast<QContextMenuEvent*>(event);
            if (menuEvent->reason() == QContextMenuEvent::Keyboard) {
                // The Menu key: at the current row, or the list's corner.
                const QRect row = ListView1->visualRect(ListView1->currentIndex());
                const QPoint at = row.isValid() ? row.bottomLeft() : QPoint(0, 0);
                ShowPopupMenu(ListView1->viewport()->mapToGlobal(at));
            } else {
                ShowPopupMenu(menuEvent->globalPos());
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- deletion

void TfrmMain::btDeleteClick() {
    StopAlarm();
    auto pause = countdown_.Pause();
    DeleteMessages();
    countdown_.UpdateAutomaticCaptions(settings_.automatic, countdown_.Interval());
}

void TfrmMain::DeletionStarting() {
    running_ = true;
    disableAllButtons();
    SetRunRole();
}

void TfrmMain::DeleteMessages() {
    // Refused while a check or another deletion talks to the server.
    if (Busy() || !check_) return;
    auto pause = countdown_.Pause();
    try {
        ReadSettings();
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    DeletionOptions options;
    options.manualMode = !settings_.automatic;
    options.confirm = settings_.confirm;
    // Without a mail program to start, the list is refilled instead.
    options.launch = settings_.launch && !TrimView(settings_.mailer).empty();
    DeletionResult result;
    try {
        PopCall call(popCalls_);
        result = check_->DeleteMessages(options, *boxes_, [this](int marked) {
            AddToTotal(where_, marked);
            if (general_) general_->ReadSettings();
        });
    } catch (const CancelError& e) {
        ShowError(e.what());
        return;
    } catch (const std::exception& e) {
        RunFailed(e);
        return;
    }
    if (!result.ran) return;
    EndRun();
    if (!result.keepError.empty()) ShowError(result.keepError + "\n\n" + result.keepReason);
    if (!result.totalError.empty()) ShowError(result.totalError);
    if (result.total != result.marked && isVisible() && options.launch) btLaunchClick();
}

// ---------------------------------------------------------------- small commands

void TfrmMain::btLaunchClick() {
    if (Busy()) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    if (!ui::LaunchMailProgram(ui::SystemDesktop(), *boxes_, settings_.mailer)) return;
    disableAllButtons();
    list_.Clear();
    model_->Refresh();
    enableAllButtons();
    UpdateListFace();
}

void TfrmMain::btGeneralClick() {
    if (Busy() || !general_) return;
    StopAlarm();
    if (general_->isVisible()) {
        general_->raise();
        return;
    }
    auto pause = countdown_.Pause();
    general_->exec();
    try {
        ReadSettings();
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    currentMailbox_ = settings_.defaultMailbox;
    countdown_.Reset();
    countdown_.UpdateAutomaticCaptions(settings_.automatic, settings_.minutes);
}

void TfrmMain::btSpamSetupClick() {
    if (Busy() || !options_) return;
    StopAlarm();
    if (options_->isVisible()) {
        options_->raise();
        return;
    }
    auto pause = countdown_.Pause();
    options_->exec();
}

void TfrmMain::btDeletedClick() {
    // A deletion adds to the store while it runs; the window waits for it.
    if (Busy()) return;
    StopAlarm();
    auto pause = countdown_.Pause();
    TfrmDeleted window(where_, this);
    window.SetMessageBoxes(boxes_);
    window.exec();
}

void TfrmMain::btHelpClick() {
    StopAlarm();
    auto pause = countdown_.Pause();
    ui::OpenHelp(ui::SystemDesktop(), *boxes_, where_);
}

void TfrmMain::ViewLogFile1Click() {
    StopAlarm();
    auto pause = countdown_.Pause();
    std::string file;
    try {
        file = keys::Read(SettingsStore::OpenUser(where_), keys::Logfile);
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    if (file.empty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(ui::DisplayText(file))))
        boxes_->Error(kLogError);
}

void TfrmMain::btAboutClick() {
    if (aboutOpen_) return;
    aboutOpen_ = true;
    auto pause = countdown_.Pause();
    StopAlarm();
    QMessageBox about(QMessageBox::NoIcon, "About Kelvane",
                      "Kelvane " KELVANE_VERSION
                      "\n\nA junk-mail filter for POP3 mailboxes: it reads only the "
                      "headers of waiting mail and deletes the junk on the server.",
                      QMessageBox::Ok, this);
    about.setTextFormat(Qt::PlainText);
    about.setIconPixmap(ui::OwnIcon(ui::Picture::Envelope).pixmap(48, 48));
    about.exec();
    aboutOpen_ = false;
}

}  // namespace kelvane
