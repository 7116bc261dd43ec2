#include "app/gui/rmmain.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/checkpolicy.h"
#include "app/gui/messagemodel.h"
#include "app/gui/optRetrieve.h"
#include "base/text.h"
#include "settings/gui/general.h"
#include "settings/gui/optsmain.h"
#include "settings/gui/which.h"
#include "settings/keys.h"
#include "ui/desktop.h"
#include "ui/displaytext.h"
#include "ui/eventpump.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

constexpr const char* kCancelCaption = "Cancel";

// The caption without its mnemonic marker.
QString Caption(const QAbstractButton* button) {
    QString text = button->text();
    text.remove('&');
    return text;
}

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

TfrmMain::TfrmMain(const Locations& where, QWidget* parent)
    : QMainWindow(parent),
      where_(where),
      // The log's name is read afresh at every opening, so a change made
      // with kelvane-cli or the settings takes effect at the next line.
      log_([where] { return keys::Read(SettingsStore::OpenUser(where), keys::Logfile); }) {
    setObjectName("TfrmMain");
    minuteTimer_.setInterval(60000);
    ui::InstallEventPump(pop_);
    BuildWindow();
}

TfrmMain::~TfrmMain() = default;

QToolButton* TfrmMain::AddButton(const char* name, const QString& caption) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIconSize(QSize(32, 32));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    SetCaption(button, caption);
    return button;
}

void TfrmMain::SetCaption(QToolButton* button, const QString& caption) {
    // The caption carries the mnemonic; the hint and the screen reader's
    // name follow it whenever it changes.
    button->setText(caption);
    const QString plain = Caption(button);
    button->setToolTip(plain);
    button->setAccessibleName(plain);
}

void TfrmMain::BuildWindow() {
    setWindowTitle("Kelvane");
    resize(641, 352);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->setSpacing(2);

    auto* rule = new QFrame(central);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    layout->addWidget(rule);

    lblTitle = new QLabel("Kelvane", central);
    lblTitle->setObjectName("lblTitle");
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.8);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    Label1 = new QLabel("TM", central);
    Label1->setObjectName("Label1");
    QFont small = Label1->font();
    small.setPointSizeF(small.pointSizeF() * 0.7);
    Label1->setFont(small);
    lblAd = new QLabel("Quickly eliminate junk e-mail before it gets to your mailbox", central);
    lblAd->setObjectName("lblAd");
    QFont slogan = lblAd->font();
    slogan.setItalic(true);
    lblAd->setFont(slogan);
    lblAd->setWordWrap(true);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(1);
    titleRow->addWidget(lblTitle, 0, Qt::AlignBottom);
    titleRow->addWidget(Label1, 0, Qt::AlignTop);
    titleRow->addStretch();
    layout->addLayout(titleRow);

    btList = AddButton("btList", "&Check e-mail");
    btOptions = AddButton("btOptions", "&Settings and more");
    btExit = AddButton("btExit", "&Goodbye");
    btMark = AddButton("btMark", "&Mark messages");
    btDelete = AddButton("btDelete", "&Delete marked messages");
    btRemark = AddButton("btRemark", "&Auto-mark messages");
    btResetAll = AddButton("btResetAll", "&Reset all marks");
    btLaunch = AddButton("btLaunch", "&Launch e-mail program");
    btOptions->setIcon(ui::Icon(ui::Picture::Settings));
    btMark->setIcon(ui::OwnIcon(ui::Picture::Mark));
    btDelete->setIcon(ui::Icon(ui::Picture::Delete));
    btRemark->setIcon(ui::OwnIcon(ui::Picture::Remark));
    btResetAll->setIcon(ui::Icon(ui::Picture::Reset));
    btLaunch->setIcon(ui::Icon(ui::Picture::Launch));

    auto* dropDown = new QMenu(btOptions);
    btGeneral = dropDown->addAction(ui::Icon(ui::Picture::Settings), "&General settings");
    btGeneral->setObjectName("btGeneral");
    btSpamSetup = dropDown->addAction(ui::OwnIcon(ui::Picture::Mark), "S&pam settings");
    btSpamSetup->setObjectName("btSpamSetup");
    btAbout = dropDown->addAction(ui::Icon(ui::Picture::About), "A&bout");
    btAbout->setObjectName("btAbout");
    btHelp = dropDown->addAction(ui::Icon(ui::Picture::Help), "&Help");
    btHelp->setObjectName("btHelp");
    btOptions->setMenu(dropDown);
    btOptions->setPopupMode(QToolButton::InstantPopup);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(2);
    for (QToolButton* b : {btList, btOptions, btExit})
        buttonRow->addWidget(b);
    buttonRow->addSpacing(12);
    buttonRow->addWidget(lblAd, 1);
    for (QToolButton* b : {btMark, btDelete, btRemark, btResetAll, btLaunch}) {
        buttonRow->addWidget(b);
        b->hide();
    }
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    list_.Clear();
    model_ = new MessageListModel(list_, this);
    ListView1 = new QTreeView(central);
    ListView1->setObjectName("ListView1");
    ListView1->setAccessibleName("Messages");
    ListView1->setModel(model_);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSortingEnabled(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setIconSize(QSize(16, 16));
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setStretchLastSection(false);
    const int widths[] = {220, 200, 60, 130};
    for (int c = 0; c < MessageListModel::ColumnCount; ++c)
        ListView1->setColumnWidth(c, widths[c]);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    layout->addWidget(ListView1, 1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Why1 = PopupMenu1->addAction("&Why was this e-mail marked?");
    PopupMenu1->addSeparator();
    AddtoExceptions1 = PopupMenu1->addAction("Add selected sender(s) to &exceptions list");
    AddtoSPAMlist1 = PopupMenu1->addAction("Add selected message(s) to &spam list");
    PopupMenu1->addSeparator();
    ViewHeaders1 = PopupMenu1->addAction("View selected message(s) &headers");
    ViewBody1 = PopupMenu1->addAction("View &body of one message");
    const std::pair<QAction*, const char*> items[] = {{Why1, "Why1"},
                                                      {AddtoExceptions1, "AddtoExceptions1"},
                                                      {AddtoSPAMlist1, "AddtoSPAMlist1"},
                                                      {ViewHeaders1, "ViewHeaders1"},
                                                      {ViewBody1, "ViewBody1"}};
    for (const auto& [action, name] : items) {
        action->setObjectName(name);
        // The reasons report, the lists and the viewers come with their windows.
        action->setEnabled(false);
    }

    setCentralWidget(central);

    pnlHint = new QLabel("Right click for more options, double click to mark", this);
    pnlHint->setObjectName("pnlHint");
    pnlHint->setFixedWidth(300);
    pnlStatus = new QLabel("Kelvane 0.1: ready to check your mailbox", this);
    pnlStatus->setObjectName("pnlStatus");
    pnlStatus->setTextFormat(Qt::PlainText);
    pnlStatus->setAccessibleName("Status");
    statusBar()->addWidget(pnlHint);
    statusBar()->addWidget(pnlStatus, 1);
    statusBar()->setSizeGripEnabled(true);

    connect(btList, &QToolButton::clicked, this, &TfrmMain::btListClick);
    connect(btExit, &QToolButton::clicked, this, &TfrmMain::btExitClick);
    connect(btMark, &QToolButton::clicked, this, &TfrmMain::btMarkClick);
    connect(btDelete, &QToolButton::clicked, this, &TfrmMain::btDeleteClick);
    connect(btRemark, &QToolButton::clicked, this, &TfrmMain::btRemarkClick);
    connect(btResetAll, &QToolButton::clicked, this, &TfrmMain::ResetButtonClick);
    connect(btLaunch, &QToolButton::clicked, this, &TfrmMain::btLaunchClick);
    connect(btGeneral, &QAction::triggered, this, &TfrmMain::btGeneralClick);
    connect(btSpamSetup, &QAction::triggered, this, &TfrmMain::btSpamSetupClick);
    connect(btAbout, &QAction::triggered, this, &TfrmMain::btAboutClick);
    connect(btHelp, &QAction::triggered, this, &TfrmMain::btHelpClick);
    btExit->installEventFilter(this);

    SetIdleRole();
    UpdateListFace();
}

void TfrmMain::FormCreate() {
    const SettingsStore user = SettingsStore::OpenUser(where_);
    startInTray_ = keys::Read(user, keys::SysTray);
    automatic_ = keys::Read(user, keys::Automatic);
    minutes_ = keys::Read(user, keys::Minutes);
    currentMailbox_ = keys::Read(user, keys::Which);
    // The account is loaded into the client once the rule set exists
    // (SetDialogs); the tray, automatic mode and message files come later.
    SetIdleRole();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    // Shown even when starting in the tray, until the tray exists: a user is
    // never left with an invisible program.
    show();
    raise();
    activateWindow();
}

void TfrmMain::SetDialogs(TfrmOptionsMain& options, TfrmRetrieving& retrieving,
                          TfrmGeneral& general) {
    options_ = &options;
    retrieving_ = &retrieving;
    general_ = &general;
    general.OnLaunch = [this] { btLaunchClick(); };
    check_ = std::make_unique<MailCheck>(pop_, list_, options.Rules().evaluator, log_,
                                         static_cast<CheckView&>(*this));
    // The window's own part of the client's cancel and error events, after
    // the core's status text and log line.
    auto coreCancel = pop_.OnCancel;
    pop_.OnCancel = [this, coreCancel](TagSocket& s) {
        if (coreCancel) coreCancel(s);
        msRemotePOP1Cancel();
    };
    auto coreError = pop_.OnError;
    pop_.OnError = [this, coreError](TagSocket& s, const std::string& text) {
        if (coreError) coreError(s, text);
        msRemotePOP1Error();
    };
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
    const PopSettings account =
        GetRemotePOPSettings(SettingsStore::OpenUser(where_), currentMailbox_);
    check_->LoadAccount(account, serverToIndex(general_->Table(), account.host, account.userName));
}

// ---------------------------------------------------------------- check run

void TfrmMain::btListClick() {
    // The run state disables the button; this also holds for a click queued
    // while a wait dispatches events, and for callers other than the button.
    if (Busy() || !check_) return;
    StopAlarm();
    // The account comes from the store as it is now, which another program
    // may have left unreadable: that is told, and no check starts.
    try {
        LoadCurrentAccount();
        if (auto missing = check_->MissingAccountText()) {
            boxes_->Error(*missing);
            btGeneralClick();
            return;
        }
        if (minutes_ > 0 && isVisible()) {
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
    const bool timerRan = minuteTimer_.isActive();
    minuteTimer_.stop();
    running_ = true;
    SetRunRole();
    disableAllButtons();
    if (isVisible()) {
        retrieving_->SetAccount(pop_.UserName(), pop_.Server());
        retrieving_->show();
        retrieving_->raise();
    }
    try {
        PopCall call(popCalls_);
        check_->UpdateInfo();
    } catch (const CancelError& e) {
        // Cancel has restored the window already; a canceled run is not a
        // check, so no "MAIL CHECK" line, also when the window was closed.
        ShowError(e.what());
        return;
    } catch (const std::exception& e) {
        if (isVisible()) {
            // The rows that arrived stay; the run state stays until Cancel.
            UpdateListFace();
            ShowError(ShownErrorText(e.what(), pop_.UserName(), pop_.Server()));
            return;
        }
        // Hidden (an unattended run): the run goes on with what arrived.
    }
    FinishCheck(timerRan);
}

void TfrmMain::FinishCheck(bool timerRan) {
    running_ = false;
    retrieving_->hide();
    enableAllButtons();
    SetIdleRole();
    UpdateListFace();
    if (timerRan) minuteTimer_.start();
    try {
        check_->LogMailCheck();
    } catch (const KelvaneError& e) {
        ShowError(e.what());
    }
    if (list_.Count() == 0 && general_->ManualMode() && general_->cbExit->isChecked()) {
        if (startInTray_)
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

void TfrmMain::CancelRun() {
    if (!check_) return;
    check_->Cancel();
    running_ = false;
    enableAllButtons();
    retrieving_->hide();
    UpdateListFace();
}

void TfrmMain::msRemotePOP1Cancel() {
    SetIdleRole();
    UpdateListFace();
}

void TfrmMain::msRemotePOP1Error() {
    UpdateListFace();
}

void TfrmMain::Status(const std::string& text) {
    pnlStatus->setText(ui::DisplayText(text));
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
    UpdateExitFace();
}

void TfrmMain::SetIdleRole() {
    SetCaption(btExit, startInTray_ ? "&Hide" : "&Goodbye");
    UpdateExitFace();
}

void TfrmMain::UpdateExitFace() {
    if (Caption(btExit) == kCancelCaption)
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
    if (Caption(btExit) == kCancelCaption) {
        CancelRun();
        return;
    }
    log_.CloseLogFile();
    if (startInTray_)
        HideToTray();
    else
        close();
}

void TfrmMain::HideToTray() {
    showMinimized();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
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
                ListView1Click();
                break;
            default:
                break;
        }
    }
    if (watched == ListView1 || watched == ListView1->viewport()) {
        if (event->type() == QEvent::KeyRelease) ListView1KeyUp();
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
    const bool timerRan = minuteTimer_.isActive();
    minuteTimer_.stop();
    DeleteMessages();
    // Automatic mode restarts the countdown; that comes with the tray.
    if (timerRan && automatic_) minuteTimer_.start();
}

void TfrmMain::DeletionStarting() {
    running_ = true;
    disableAllButtons();
    SetRunRole();
}

void TfrmMain::DeleteMessages() {
    // Refused while a check or another deletion talks to the server.
    if (Busy() || !check_) return;
    DeletionOptions options;
    options.manualMode = general_->ManualMode();
    options.confirm = general_->cbConfirmation->isChecked();
    // Without a mail program to start, the list is refilled instead.
    options.launch = general_->Settings().LaunchAfterDeletion();
    DeletionResult result;
    try {
        PopCall call(popCalls_);
        result = check_->DeleteMessages(options, *boxes_, [this](int marked) {
            AddToTotal(where_, marked);
            general_->ReadSettings();
        });
    } catch (const std::exception& e) {
        // The run state stays as the failure left it until Cancel.
        UpdateListFace();
        ShowError(ShownErrorText(e.what(), pop_.UserName(), pop_.Server()));
        return;
    }
    if (!result.ran) return;
    running_ = false;
    enableAllButtons();
    SetIdleRole();
    UpdateListFace();
    if (!result.totalError.empty()) ShowError(result.totalError);
    if (result.total != result.marked && isVisible() && options.launch) btLaunchClick();
}

// ---------------------------------------------------------------- small commands

void TfrmMain::btLaunchClick() {
    if (Busy()) return;
    const std::string mailer = general_ ? general_->Mailer() : std::string();
    if (!ui::LaunchMailProgram(ui::SystemDesktop(), *boxes_, mailer)) return;
    disableAllButtons();
    list_.Clear();
    model_->Refresh();
    enableAllButtons();
    UpdateListFace();
}

void TfrmMain::btGeneralClick() {
    if (Busy() || !general_) return;
    StopAlarm();
    minuteTimer_.stop();
    if (general_->isVisible()) {
        general_->raise();
        return;
    }
    general_->exec();
    automatic_ = !general_->ManualMode();
    currentMailbox_ = general_->DefaultMailbox();
    minutes_ = general_->Minutes();
}

void TfrmMain::btSpamSetupClick() {
    if (Busy() || !options_) return;
    StopAlarm();
    const bool timerRan = minuteTimer_.isActive();
    minuteTimer_.stop();
    if (options_->isVisible()) {
        options_->raise();
        return;
    }
    options_->exec();
    if (timerRan) minuteTimer_.start();
}

void TfrmMain::btHelpClick() {
    minuteTimer_.stop();
    StopAlarm();
    ui::OpenHelp(ui::SystemDesktop(), *boxes_, where_);
    if (automatic_ && general_ && !general_->ManualMode()) minuteTimer_.start();
}

void TfrmMain::btAboutClick() {
    if (aboutOpen_) return;
    aboutOpen_ = true;
    minuteTimer_.stop();
    StopAlarm();
    QMessageBox about(QMessageBox::NoIcon, "About Kelvane",
                      "Kelvane 0.1\n\nA junk-mail filter for POP3 mailboxes: it reads only the "
                      "headers of waiting mail and deletes the junk on the server.",
                      QMessageBox::Ok, this);
    about.setTextFormat(Qt::PlainText);
    about.setIconPixmap(ui::OwnIcon(ui::Picture::Envelope).pixmap(48, 48));
    about.exec();
    aboutOpen_ = false;
    if (general_ && !general_->ManualMode()) minuteTimer_.start();
}

}  // namespace kelvane
