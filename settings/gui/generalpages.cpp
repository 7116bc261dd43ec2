#include "settings/gui/generalpages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/displaytext.h"

namespace kelvane {

namespace {

template <typename T>
void Put(QWidget* control, const T& value, bool inverted) {
    if constexpr (std::is_same_v<T, bool>) {
        if (auto* b = qobject_cast<QAbstractButton*>(control)) b->setChecked(value != inverted);
    } else if constexpr (std::is_same_v<T, int>) {
        if (auto* spin = qobject_cast<QSpinBox*>(control)) spin->setValue(value);
        // An index the list does not hold (a phone book entry gone) shows "None".
        if (auto* combo = qobject_cast<QComboBox*>(control))
            combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : 0);
    } else {
        if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(ui::DisplayText(value));
        if (auto* label = qobject_cast<QLabel*>(control)) label->setText(ui::DisplayText(value));
    }
}

template <typename T>
void Take(const QWidget* control, T& value, bool inverted) {
    if constexpr (std::is_same_v<T, bool>) {
        if (auto* b = qobject_cast<const QAbstractButton*>(control))
            value = b->isChecked() != inverted;
    } else if constexpr (std::is_same_v<T, int>) {
        if (auto* spin = qobject_cast<const QSpinBox*>(control)) value = spin->value();
        if (auto* combo = qobject_cast<const QComboBox*>(control))
            value = std::max(combo->currentIndex(), 0);
    } else {
        if (auto* edit = qobject_cast<const QLineEdit*>(control))
            value = ui::CoreText(edit->text());
        if (auto* label = qobject_cast<const QLabel*>(control)) value = ui::CoreText(label->text());
    }
}

// A label with its field: the label names the field for screen readers.
QLineEdit* PathField(QWidget* page, const char* name, const QString& caption, QLabel*& label) {
    label = new QLabel(caption, page);
    QLineEdit* edit = ui::MakeEdit(page, name, caption);
    label->setBuddy(edit);
    return edit;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = false) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets)
        row->addWidget(w);
    if (stretch) row->addStretch();
    return row;
}

}  // namespace

GeneralPage::GeneralPage(const char* name, const QString& title, QWidget* parent)
    : QWidget(parent), title_(title) {
    setObjectName(name);
    setAccessibleName(title);
}

void GeneralPage::Load(const GeneralSettings& s) {
    for (const Binding& b : bindings_) {
        QWidget* control = findChild<QWidget*>(b.control);
        std::visit([&](auto field) { Put(control, s.*field, b.inverted); }, b.field);
    }
}

std::optional<PageRefusal> GeneralPage::Store(GeneralSettings& s) const {
    for (const Binding& b : bindings_) {
        const QWidget* control = findChild<QWidget*>(b.control);
        // The second of a radio pair only mirrors the first.
        if (b.inverted) continue;
        std::visit([&](auto field) { Take(control, s.*field, false); }, b.field);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- Connection

ConnectionPage::ConnectionPage(const std::vector<std::string>& dialUpEntries, QWidget* parent)
    : GeneralPage("pgConnection", "Connection", parent) {
    auto* intro = ui::MakeText(this, "Specify a default connection to the internet:");
    RASComboBox = new QComboBox(this);
    RASComboBox->setObjectName("RASComboBox");
    RASComboBox->setAccessibleName("Default connection to the internet");
    RASComboBox->addItem("None");
    for (const std::string& entry : dialUpEntries)
        RASComboBox->addItem(ui::DisplayText(entry));
    intro->setBuddy(RASComboBox);
    auto* none = ui::MakeText(this, "Select 'none' if you do not dial in to the internet.");

    auto* waitLabel = new QLabel("Wait for a server's reply up to", this);
    nTimeOut = ui::MakeSpinBox(this, "nTimeOut", "Seconds to wait for a server's reply", 5, 600);
    waitLabel->setBuddy(nTimeOut);
    auto* seconds = new QLabel("seconds", this);
    cbPipelining =
        ui::MakeCheckBox(this, "cbPipelining",
                         "Send several commands at once to servers that offer it (pipelining)");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(RASComboBox);
    layout->addWidget(none);
    layout->addSpacing(12);
    layout->addLayout(Row({waitLabel, nTimeOut, seconds}, true));
    layout->addWidget(cbPipelining);
    layout->addStretch();

    using G = GeneralSettings;
    bindings_ = {
        {"RASComboBox", &G::ras},
        {"nTimeOut", &G::timeOut},
        {"cbPipelining", &G::pipelining},
    };
}

// ---------------------------------------------------------------- Automatic

AutomaticPage::AutomaticPage(QWidget* parent) : GeneralPage("pgAutomatic", "Automatic", parent) {
    auto* intro = ui::MakeText(
        this, "Kelvane can run unattended and may delete e-mail without confirmation.");
    rbManual = ui::MakeRadioButton(this, "rbManual", "Check e-mail manually");
    rbAuto = ui::MakeRadioButton(this, "rbAuto", "Check e-mail unattended or automatically");

    pnlManual = new QWidget(this);
    pnlManual->setObjectName("pnlManual");
    auto* manualText =
        ui::MakeText(pnlManual,
                     "These options only apply if checking e-mail manually.  They do "
                     "not apply when e-mail is checked automatically.");
    cbConfirmation = ui::MakeCheckBox(pnlManual, "cbConfirmation",
                                      "When deleting messages interactively, ask for confirmation");
    cbLaunch = ui::MakeCheckBox(pnlManual, "cbLaunch",
                                "After deleting spam, launch e-mail program if there is e-mail "
                                "to read");
    cbExit = ui::MakeCheckBox(pnlManual, "cbExit",
                              "If no mail is on the server, exit after checking e-mail");
    auto* manual = new QVBoxLayout(pnlManual);
    manual->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : {static_cast<QWidget*>(manualText), static_cast<QWidget*>(cbConfirmation),
                       static_cast<QWidget*>(cbLaunch), static_cast<QWidget*>(cbExit)})
        manual->addWidget(w);
    manual->addStretch();

    pnlAuto = new QWidget(this);
    pnlAuto->setObjectName("pnlAuto");
    auto* every = new QLabel("Check for mail every ", pnlAuto);
    nMinutes = ui::MakeSpinBox(pnlAuto, "nMinutes", "Check for mail every (minutes)", 2, 600);
    every->setBuddy(nMinutes);
    auto* minutes = new QLabel("minutes", pnlAuto);
    cbKill = ui::MakeCheckBox(pnlAuto, "cbKill", "Delete spam automatically - no confirmation?");
    cbCheckAll = ui::MakeCheckBox(pnlAuto, "cbCheckAll",
                                  "Check and automatically delete spam from ALL mailboxes?");
    cbCheckAll->setToolTip("If not checked, only the default mail box will be checked");

    pnlSound = new QWidget(pnlAuto);
    pnlSound->setObjectName("pnlSound");
    cbAlarm = ui::MakeCheckBox(pnlSound, "cbAlarm",
                               "&Play this sound file if there is e-mail on the server");
    cbRepeat =
        ui::MakeCheckBox(pnlSound, "cbRepeat", "Repeat the alarm until keypress or mouse click?");
    edAlarm = ui::MakeEdit(pnlSound, "edAlarm", "Sound file");
    btBrowseAlarm = ui::MakeBrowseButton(pnlSound, "btBrowseAlarm", "Find sound file");
    btTest = ui::MakeButton(pnlSound, "btTest", "Test");
    auto* sound = new QVBoxLayout(pnlSound);
    sound->setContentsMargins(0, 0, 0, 0);
    sound->addWidget(cbAlarm);
    sound->addWidget(cbRepeat);
    sound->addLayout(Row({edAlarm, btBrowseAlarm, btTest}));

    auto* automatic = new QVBoxLayout(pnlAuto);
    automatic->setContentsMargins(0, 0, 0, 0);
    automatic->addLayout(Row({every, nMinutes, minutes}, true));
    automatic->addWidget(cbKill);
    automatic->addWidget(cbCheckAll);
    automatic->addWidget(pnlSound);
    automatic->addStretch();

    // The two panels share one place; only one shows at a time.
    auto* panels = new QGridLayout;
    panels->addWidget(pnlManual, 0, 0);
    panels->addWidget(pnlAuto, 0, 0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(rbManual);
    layout->addWidget(rbAuto);
    layout->addSpacing(8);
    layout->addLayout(panels, 1);

    connect(rbManual, &QRadioButton::toggled, this, &AutomaticPage::UpdatePanels);
    connect(cbKill, &QCheckBox::toggled, this, &AutomaticPage::UpdatePanels);

    using G = GeneralSettings;
    bindings_ = {
        {"rbAuto", &G::automatic},   {"rbManual", &G::automatic, true},
        {"cbConfirmation", &G::ask}, {"cbLaunch", &G::launch},
        {"cbExit", &G::exit},        {"nMinutes", &G::minutes},
        {"cbKill", &G::kill},        {"cbAlarm", &G::alarm},
        {"cbRepeat", &G::repeat},    {"edAlarm", &G::alarmFile},
    };
}

void AutomaticPage::Load(const GeneralSettings& s) {
    GeneralPage::Load(s);
    UpdatePanels();
}

void AutomaticPage::UpdatePanels() {
    pnlManual->setVisible(rbManual->isChecked());
    pnlAuto->setVisible(!rbManual->isChecked());
    cbCheckAll->setVisible(cbKill->isChecked());
    pnlSound->setVisible(!cbKill->isChecked());
}

// ---------------------------------------------------------------- Start Up

StartUpPage::StartUpPage(QWidget* parent) : GeneralPage("pgStartUp", "Start Up", parent) {
    cbSysTray = ui::MakeCheckBox(this, "cbSysTray", "Start Kelvane up in the system tray?");
    auto* text = ui::MakeText(
        this,
        "When this is checked, the next start of Kelvane does not show the main screen, only "
        "the icon in the system tray. Right-click the icon to open Kelvane. This is meant for "
        "checking e-mail in the background. The change takes effect the next time Kelvane is "
        "launched.");
    // Not a setting of the store: the desktop's autostart entry itself.
    cbAutostart = ui::MakeCheckBox(this, "cbAutostart", "Start Kelvane when I log in");
    cbNotify = ui::MakeCheckBox(this, "cbNotify",
                                "Tell me through the desktop's notifications what an unattended "
                                "check deleted or found");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cbSysTray);
    layout->addWidget(text);
    layout->addSpacing(12);
    layout->addWidget(cbAutostart);
    layout->addWidget(cbNotify);
    layout->addStretch();
    bindings_ = {{"cbSysTray", &GeneralSettings::sysTray}, {"cbNotify", &GeneralSettings::notify}};
}

// ---------------------------------------------------------------- Logfile

LogfilePage::LogfilePage(QWidget* parent) : GeneralPage("pgLogfile", "Logfile", parent) {
    QLabel* caption = nullptr;
    Edit1 = PathField(this, "Edit1", "Store results in log file:", caption);
    btBrowseLog = ui::MakeBrowseButton(this, "btBrowseLog", "Browse for log file");
    btView = ui::MakeButton(this, "btView", "&View log file");
    btClear = ui::MakeButton(this, "btClear", "&Clear log file");
    auto* text = ui::MakeText(this,
                              "Each deleted e-mail is recorded in the log file, stamped with the "
                              "date and time it was deleted.");
    edCount = new QLabel(this);
    edCount->setObjectName("edCount");
    edCount->setAccessibleName("Spams deleted");
    edCount->setTextFormat(Qt::PlainText);
    QFont bold = edCount->font();
    bold.setBold(true);
    edCount->setFont(bold);
    auto* upTillNow = new QLabel("Spams have been deleted up till now", this);
    btReset = ui::MakeButton(this, "btReset", "&Reset counter");
    cbKeepDeleted =
        ui::MakeCheckBox(this, "cbKeepDeleted", "Keep a copy of every deleted message (Deleted)");
    auto* daysLabel = new QLabel("Keep the copies for", this);
    nKeepDays = ui::MakeSpinBox(this, "nKeepDays", "Days to keep the copies", 0, 3650);
    daysLabel->setBuddy(nKeepDays);
    auto* days = new QLabel("days (0: for ever)", this);
    auto* sizeLabel = new QLabel("Keep only the header of messages larger than", this);
    nKeepMaxKB =
        ui::MakeSpinBox(this, "nKeepMaxKB", "Largest message kept whole, in KiB", 0, 1024 * 1024);
    sizeLabel->setBuddy(nKeepMaxKB);
    auto* kib = new QLabel("KiB", this);
    connect(cbKeepDeleted, &QCheckBox::toggled, this, [this](bool on) {
        nKeepDays->setEnabled(on);
        nKeepMaxKB->setEnabled(on);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addLayout(Row({Edit1, btBrowseLog}));
    layout->addLayout(Row({btView, btClear}, true));
    layout->addWidget(text);
    layout->addSpacing(12);
    layout->addLayout(Row({edCount, upTillNow}, true));
    layout->addLayout(Row({btReset}, true));
    layout->addSpacing(12);
    layout->addWidget(cbKeepDeleted);
    layout->addLayout(Row({daysLabel, nKeepDays, days}, true));
    layout->addLayout(Row({sizeLabel, nKeepMaxKB, kib}, true));
    layout->addStretch();

    using G = GeneralSettings;
    bindings_ = {{"Edit1", &G::logfile},
                 {"edCount", &G::count},
                 {"cbKeepDeleted", &G::keepDeleted},
                 {"nKeepDays", &G::keepDays},
                 {"nKeepMaxKB", &G::keepMaxKB}};
}

// ---------------------------------------------------------------- Mail program

MailProgramPage::MailProgramPage(QWidget* parent)
    : GeneralPage("pgMailProgram", "Mail program", parent) {
    QLabel* caption = nullptr;
    edMail = PathField(this, "edMail", "Mail program path/name:", caption);
    btBrowseMail = ui::MakeBrowseButton(this, "btBrowseMail", "Find mail program");
    btLaunchMail = ui::MakeButton(this, "btLaunchMail", "Launch mail program");
    auto* sorry = ui::MakeText(this, "Kelvane does not support AOL or Compuserve mail.  Sorry.");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addLayout(Row({edMail, btBrowseMail}));
    layout->addLayout(Row({btLaunchMail}, true));
    layout->addWidget(sorry);
    layout->addStretch();
    bindings_ = {{"edMail", &GeneralSettings::mailer}};
}

}  // namespace kelvane
