#include "settings/gui/general.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cstdio>

#include "base/error.h"
#include "base/fileio.h"
#include "base/text.h"
#include "mail/agras.h"
#include "settings/autostart.h"
#include "settings/gui/generalpages.h"
#include "settings/gui/mailboxpage.h"
#include "settings/keys.h"
#include "ui/desktop.h"
#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"
#include "ui/filedialogs.h"
#include "ui/sound.h"

namespace kelvane {

namespace {

constexpr const char* kLogOpenError = "Unable to open log file. ";
constexpr const char* kClearLogQuestion = "Really clear out log file?";
constexpr const char* kResetQuestion = "Really reset spam counter?";

// Empty fields look like the dialog's face until they take the focus, so
// the field being typed in stands out. From the palette, so a dark one works.
void Tint(QWidget* field, bool focused) {
    QPalette p = field->palette();
    const QPalette& base = field->window()->palette();
    p.setColor(QPalette::Base, focused ? base.color(QPalette::Base) : base.color(QPalette::Button));
    field->setPalette(p);
}

}  // namespace

TfrmGeneral::TfrmGeneral(const Locations& where, QWidget* parent, DesktopPlaces places)
    : QDialog(parent), where_(where), places_(std::move(places)) {
    setObjectName("TfrmGeneral");
    setWindowTitle("General settings");
    setWindowFlag(Qt::WindowStaysOnTopHint);

    lblTitle = new QLabel("General Settings", this);
    lblTitle->setObjectName("lblTitle");
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    lblTitle->setFont(big);

    pcGeneral = new QTabWidget(this);
    pcGeneral->setObjectName("pcGeneral");
    pgMailboxes = new MailboxesPage(pcGeneral);
    pgConnection = new ConnectionPage(TagRas().Entries(), pcGeneral);
    pgAutomatic = new AutomaticPage(pcGeneral);
    pgStartUp = new StartUpPage(pcGeneral);
    pgLogfile = new LogfilePage(pcGeneral);
    pgMailProgram = new MailProgramPage(pcGeneral);
    // The mailbox page first: its refusals are the ones OK can meet.
    pages_ = {pgMailboxes, pgConnection, pgAutomatic, pgStartUp, pgLogfile, pgMailProgram};
    for (GeneralPage* page : pages_)
        pcGeneral->addTab(page, page->Title());

    rbManual = pgAutomatic->rbManual;
    rbAuto = pgAutomatic->rbAuto;
    cbConfirmation = pgAutomatic->cbConfirmation;
    cbLaunch = pgAutomatic->cbLaunch;
    cbExit = pgAutomatic->cbExit;
    edCount = pgLogfile->edCount;

    QDialogButtonBox* buttons = ui::OkCancelButtons(this, btOK, btCancel);
    btHelp = buttons->addButton("Help", QDialogButtonBox::HelpRole);
    btHelp->setObjectName("btHelp");
    btHelp->setAccessibleName("Help");
    btHelp->setAutoDefault(false);
    connect(btOK, &QPushButton::clicked, this, &TfrmGeneral::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmGeneral::reject);
    connect(btHelp, &QPushButton::clicked, this, &TfrmGeneral::btHelpClick);
    connect(pgLogfile->btBrowseLog, &QToolButton::clicked, this, &TfrmGeneral::btBrowseLogClick);
    connect(pgLogfile->btView, &QPushButton::clicked, this, &TfrmGeneral::btViewClick);
    connect(pgLogfile->btClear, &QPushButton::clicked, this, &TfrmGeneral::btClearClick);
    connect(pgLogfile->btReset, &QPushButton::clicked, this, &TfrmGeneral::btResetClick);
    connect(pgMailProgram->btBrowseMail, &QToolButton::clicked, this,
            &TfrmGeneral::btBrowseMailClick);
    connect(pgMailProgram->btLaunchMail, &QPushButton::clicked, this,
            &TfrmGeneral::btLaunchMailClick);
    connect(pgAutomatic->btBrowseAlarm, &QToolButton::clicked, this,
            &TfrmGeneral::btBrowseAlarmClick);
    connect(pgAutomatic->btTest, &QPushButton::clicked, this, &TfrmGeneral::btTestClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(pcGeneral, 1);
    layout->addWidget(buttons);

    for (QWidget* field : findChildren<QLineEdit*>())
        field->installEventFilter(this);
    for (QWidget* field : findChildren<QSpinBox*>())
        field->installEventFilter(this);

    SettingsStore user = SettingsStore::OpenUser(where_);
    stored_ = GeneralSettings::Read(user);
    // A first start with no mail program to be found: launching after each
    // deletion would leave the list empty for nothing.
    if (!user.Has(keys::Launch.section, keys::Launch.key) && IsBlankText(stored_.mailer)) {
        stored_.mailer = GetMailPath(places_);
        if (stored_.mailer.empty()) {
            stored_.launch = false;
            try {
                keys::Write(user, keys::Launch, false);
            } catch (const KelvaneError&) {
                // Stored with the next save.
                stored_.launch = keys::Launch.def;
            }
        }
    }
    live_ = stored_;
    LoadPages(stored_);
    newUser_ = IsNewUser(stored_.table);
    pcGeneral->setCurrentWidget(pgMailboxes);
    resize(sizeHint().expandedTo(QSize(760, 480)));
}

TfrmGeneral::~TfrmGeneral() {
    try {
        SaveSettings();
    } catch (const std::exception&) {
        // The program is ending; what the store refuses now it refused before.
    }
}

void TfrmGeneral::LoadPages(const GeneralSettings& s) {
    for (GeneralPage* page : pages_)
        page->Load(s);
    for (QWidget* field : findChildren<QLineEdit*>())
        Tint(field, field->hasFocus());
    for (QWidget* field : findChildren<QSpinBox*>())
        Tint(field, field->hasFocus());
}

const GeneralSettings& TfrmGeneral::Settings() const {
    for (const GeneralPage* page : pages_)
        page->Store(live_);
    return live_;
}

void TfrmGeneral::ReadSettings() {
    // The mailbox rows keep what they show.
    const MailboxTable table = Settings().table;
    GeneralSettings fresh = GeneralSettings::Read(SettingsStore::OpenUser(where_));
    fresh.table = table;
    stored_ = fresh;
    live_ = fresh;
    for (GeneralPage* page : pages_)
        if (page != pgMailboxes) page->Load(fresh);
}

void TfrmGeneral::SaveSettings() {
    GeneralSettings now = Settings();
    SettingsStore user = SettingsStore::OpenUser(where_);
    now.WriteGeneral(user, &stored_);
    const MailboxTable table = stored_.table;
    stored_ = now;
    stored_.table = table;
}

void TfrmGeneral::ReadMailboxes() {
    Settings();
    readServerSettings(SettingsStore::OpenUser(where_), live_.table);
    stored_.table = live_.table;
    pgMailboxes->Load(live_);
}

void TfrmGeneral::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        ReadMailboxes();
        GeneralSettings& s = live_;
        if (FillSlotOneFromMailClient(s.table, places_)) pgMailboxes->Load(s);
        if (IsBlankText(s.mailer)) s.mailer = GetMailPath(places_);
        if (s.alarmFile.empty()) s.alarmFile = where_.DataFile("harptune.wav");
        if (s.logfile.empty()) s.logfile = where_.ProgramFile("logfile.txt");
        // Stored only with the next save.
        for (GeneralPage* page : pages_)
            if (page != pgMailboxes) page->Load(s);
        killShown_ = s.kill;
        sysTrayShown_ = s.sysTray;
        autostartShown_ = AutostartEnabled();
        pgStartUp->cbAutostart->setChecked(autostartShown_);
        if (newUser_) {
            newUser_ = false;
            if (AddFirstRunRule) AddFirstRunRule(s.table);
        }
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

bool TfrmGeneral::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        if (auto* field = qobject_cast<QWidget*>(watched))
            Tint(field, event->type() == QEvent::FocusIn);
    return QDialog::eventFilter(watched, event);
}

void TfrmGeneral::Refuse(GeneralPage* page, const PageRefusal& refusal) {
    pcGeneral->setCurrentWidget(page);
    Boxes().Error(refusal.message);
    refusal.focus->setFocus(Qt::OtherFocusReason);
}

void TfrmGeneral::btOKClick() {
    // Every page is checked before anything is written: a refused OK leaves
    // the store as it was, so Cancel after it loses nothing.
    GeneralSettings next = live_;
    for (GeneralPage* page : pages_) {
        if (auto refusal = page->Store(next)) {
            Refuse(page, *refusal);
            return;
        }
    }
    // The slots as last read (on showing) or written: their keyring items.
    const MailboxTable was = stored_.table;
    std::array<bool, keys::MailboxSlots> toKeyring{};
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        MailboxAccount& a = next.table.slot(n);
        const SlotPasswordStep step =
            PrepareSlotPassword(n, Secrets(), was.slot(n), a, !a.password.empty());
        if (step.refusal) {
            SaveServerResult bad = *step.refusal;
            bad.message += "; type it again";
            Refuse(pgMailboxes, pgMailboxes->Refusal(bad));
            return;
        }
        toKeyring[static_cast<std::size_t>(n - 1)] = step.toKeyring;
    }
    // Again once the keyring had its say: a keyring slot with nothing to keep
    // needs a password.
    if (const auto bad = next.Check()) {
        Refuse(pgMailboxes, pgMailboxes->Refusal(*bad));
        return;
    }
    if (next.kill && !killShown_ && next.automatic) Boxes().Warning(kOverDeleteWarning);
    if (next.sysTray != sysTrayShown_) Boxes().Information(kRestartText);
    next.NormalizeFingerprints();
    for (int n = 1; n <= keys::MailboxSlots; ++n)
        if (toKeyring[static_cast<std::size_t>(n - 1)] &&
            !StoreSlotPassword(Secrets(), next.table.slot(n)))
            Boxes().Information(NoKeyringText(n));
    try {
        SettingsStore user = SettingsStore::OpenUser(where_);
        next.Write(user, &stored_);
    } catch (const KelvaneError& e) {
        // The dialog stays open with the user's choices; OK can be tried again.
        Boxes().Error(e.what());
        return;
    }
    // The autostart entry is the desktop's file, not a key: touched only
    // when the user changed the box.
    if (const bool on = pgStartUp->cbAutostart->isChecked(); on != autostartShown_) {
        try {
            SetAutostart(on, AutostartProgram(ExecutableFolder()));
            autostartShown_ = on;
        } catch (const KelvaneError& e) {
            Boxes().Error(e.what());
        }
    }
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        MailboxAccount& a = next.table.slot(n);
        ForgetReplacedKeyringPassword(Secrets(), was.slot(n), a);
        // Never held by the dialog once stored.
        if (a.passwordSource != PasswordSource::File) a.password.clear();
    }
    next.table.defaultMailbox = next.table.selected;
    stored_ = next;
    live_ = next;
    pgMailboxes->Load(next);
    killShown_ = next.kill;
    sysTrayShown_ = next.sysTray;
    StopTest();
    accept();
}

void TfrmGeneral::reject() {
    // Every control as the store holds it.
    const GeneralSettings s = GeneralSettings::Read(SettingsStore::OpenUser(where_));
    stored_ = s;
    live_ = s;
    LoadPages(s);
    pgStartUp->cbAutostart->setChecked(autostartShown_);
    StopTest();
    QDialog::reject();
}

SecretStore& TfrmGeneral::Secrets() {
    if (secrets_) return *secrets_;
    // Opened by hand, so the keyring may ask to be unlocked.
    if (!ownSecrets_) ownSecrets_ = MakeDesktopSecretStore(true);
    return *ownSecrets_;
}

ui::Desktop& TfrmGeneral::Desktop() {
    return desktop_ ? *desktop_ : ui::SystemDesktop();
}

void TfrmGeneral::btBrowseLogClick() {
    QLineEdit* path = pgLogfile->Edit1;
    if (auto file = ui::PickFile(
            this, {true, "Log file", path->text(), "Text files (*.txt);;All files (*)", "txt"}))
        path->setText(*file);
}

void TfrmGeneral::btBrowseMailClick() {
    QLineEdit* path = pgMailProgram->edMail;
    if (auto file = ui::PickFile(this, {false, "Mail program", path->text(), "All files (*)", {}}))
        path->setText(*file);
}

void TfrmGeneral::btBrowseAlarmClick() {
    QLineEdit* path = pgAutomatic->edAlarm;
    if (auto file = ui::PickFile(this, {false, "Sound files", path->text(),
                                        "Sound files (*.wav);;All files (*)", "wav"}))
        path->setText(*file);
}

void TfrmGeneral::btViewClick() {
    const QString path = pgLogfile->Edit1->text();
    if (path.trimmed().isEmpty() || !QFileInfo(path).isFile() || !Desktop().OpenFile(path))
        Boxes().Error(kLogOpenError);
}

void TfrmGeneral::btClearClick() {
    if (!Boxes().Confirm(kClearLogQuestion)) return;
    const std::string path = ui::CoreText(pgLogfile->Edit1->text());
    if (!path.empty()) std::remove(path.c_str());
}

void TfrmGeneral::btResetClick() {
    if (Boxes().Confirm(kResetQuestion)) edCount->setText("0");
}

void TfrmGeneral::btTestClick() {
    QPushButton* test = pgAutomatic->btTest;
    const QString file = pgAutomatic->edAlarm->text();
    const bool exists = QFileInfo(pgAutomatic->edAlarm->text()).isFile();
    if (test->text() == "Test") {
        const bool repeat = pgAutomatic->cbRepeat->isChecked();
        if (repeat) test->setText("Stop");
        if (exists && sound_) sound_->Play(file, repeat);
    } else {
        test->setText("Test");
        if (exists && sound_) sound_->Stop();
    }
}

void TfrmGeneral::StopTest() {
    // A looping test sound never outlives the dialog.
    if (pgAutomatic->btTest->text() == "Stop") btTestClick();
}

void TfrmGeneral::btLaunchMailClick() {
    if (OnLaunch) {
        OnLaunch();
        return;
    }
    ui::LaunchMailProgram(Desktop(), Boxes(), Settings().mailer);
}

void TfrmGeneral::btHelpClick() {
    ui::OpenHelp(Desktop(), Boxes(), where_, 200);
}

}  // namespace kelvane
