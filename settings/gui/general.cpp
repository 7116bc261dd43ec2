#include "settings/gui/general.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/error.h"
#include "settings/keys.h"
#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"
#include "ui/messageboxes.h"

namespace kelvane {

TfrmGeneral::TfrmGeneral(const Locations& where, QWidget* parent) : QDialog(parent), where_(where) {
    setObjectName("TfrmGeneral");
    setWindowTitle("General settings");
    setWindowFlag(Qt::WindowStaysOnTopHint);

    lblTitle = new QLabel("General Settings", this);
    lblTitle->setObjectName("lblTitle");
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    lblTitle->setFont(big);

    auto* automatic = new QGroupBox("Automatic", this);
    rbManual = new QRadioButton("Check e-mail &manually", automatic);
    rbManual->setObjectName("rbManual");
    rbAuto = new QRadioButton("Check e-mail &unattended or automatically", automatic);
    rbAuto->setObjectName("rbAuto");
    cbConfirmation =
        new QCheckBox("When deleting messages interactively, ask for &confirmation", automatic);
    cbConfirmation->setObjectName("cbConfirmation");
    cbLaunch = new QCheckBox(
        "After deleting spam, &launch e-mail program if there is e-mail to read", automatic);
    cbLaunch->setObjectName("cbLaunch");
    cbExit = new QCheckBox("If no mail is on the server, e&xit after checking e-mail", automatic);
    cbExit->setObjectName("cbExit");
    auto* autoLayout = new QVBoxLayout(automatic);
    for (QWidget* w : {static_cast<QWidget*>(rbManual), static_cast<QWidget*>(rbAuto),
                       static_cast<QWidget*>(cbConfirmation), static_cast<QWidget*>(cbLaunch),
                       static_cast<QWidget*>(cbExit)})
        autoLayout->addWidget(w);

    auto* mailboxes = new QGroupBox("Mailboxes", this);
    memMailboxes = new QPlainTextEdit(mailboxes);
    memMailboxes->setObjectName("memMailboxes");
    memMailboxes->setReadOnly(true);
    memMailboxes->setAccessibleName("Mailboxes");
    auto* note = new QLabel(
        "Set a mailbox up with:\n"
        "kelvane-cli mailbox set N --server HOST --user NAME --password-stdin",
        mailboxes);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* boxLayout = new QVBoxLayout(mailboxes);
    boxLayout->addWidget(memMailboxes);
    boxLayout->addWidget(note);

    edCount = new QLabel(this);
    edCount->setObjectName("edCount");

    QDialogButtonBox* buttons = ui::OkCancelButtons(this, btOK, btCancel);
    connect(btOK, &QPushButton::clicked, this, &TfrmGeneral::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmGeneral::btCancelClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(automatic);
    layout->addWidget(mailboxes);
    layout->addWidget(edCount);
    layout->addWidget(buttons);

    ReadSettings();
    ReadMailboxes();
}

bool TfrmGeneral::ManualMode() const {
    return !rbAuto->isChecked();
}

void TfrmGeneral::ReadSettings() {
    const SettingsStore user = SettingsStore::OpenUser(where_);
    const bool automatic = keys::Read(user, keys::Automatic);
    rbAuto->setChecked(automatic);
    rbManual->setChecked(!automatic);
    cbConfirmation->setChecked(keys::Read(user, keys::Ask));
    cbLaunch->setChecked(keys::Read(user, keys::Launch));
    cbExit->setChecked(keys::Read(user, keys::Exit));
    minutes_ = keys::Read(user, keys::Minutes);
    mailer_ = keys::Read(user, keys::Mailer);
    edCount->setText(ui::DisplayText(keys::Read(user, keys::Count)) +
                     " Spams have been deleted up till now");
}

void TfrmGeneral::SaveSettings() {
    // Only what this form edits: keys another program changed meanwhile
    // (kelvane-cli, the running total) are not overwritten with stale copies.
    SettingsStore user = SettingsStore::OpenUser(where_);
    keys::Write(user, keys::Automatic, rbAuto->isChecked());
    keys::Write(user, keys::Ask, cbConfirmation->isChecked());
    keys::Write(user, keys::Launch, cbLaunch->isChecked());
    keys::Write(user, keys::Exit, cbExit->isChecked());
}

void TfrmGeneral::ReadMailboxes() {
    readServerSettings(SettingsStore::OpenUser(where_), table_);
    QString text;
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxAccount& slot = table_.slot(n);
        if (slot.server.empty() && slot.userName.empty()) continue;
        text += QString("Mailbox %1%2: %3 on %4\n")
                    .arg(n)
                    .arg(n == table_.selected ? " (default)" : "")
                    .arg(ui::DisplayText(slot.userName), ui::DisplayText(slot.server));
    }
    memMailboxes->setPlainText(text.isEmpty() ? "No mailbox is set up." : text);
}

void TfrmGeneral::showEvent(QShowEvent* event) {
    ReadMailboxes();
    ReadSettings();
    QDialog::showEvent(event);
}

void TfrmGeneral::btOKClick() {
    try {
        SaveSettings();
    } catch (const KelvaneError& e) {
        // A store that cannot be written: the dialog stays open with the
        // user's choices, so nothing is lost and OK can be tried again.
        ui::QtMessageBoxes(this).Error(e.what());
        return;
    }
    accept();
}

void TfrmGeneral::btCancelClick() {
    ReadSettings();
    ReadMailboxes();
    reject();
}

}  // namespace kelvane
