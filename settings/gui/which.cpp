#include "settings/gui/which.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"

namespace kelvane {

TfrmWhichMailbox::TfrmWhichMailbox(const MailboxTable& table, int current, QWidget* parent)
    : QDialog(parent) {
    setObjectName("TfrmWhichMailbox");
    setWindowTitle("Which Mail Box?");
    setWindowFlag(Qt::WindowStaysOnTopHint);
    Label1 = new QLabel("Which mailbox do you wish to check?", this);
    Label1->setObjectName("Label1");
    cbMailbox = new QComboBox(this);
    cbMailbox->setObjectName("cbMailbox");
    cbMailbox->setEditable(false);
    cbMailbox->setAccessibleName(Label1->text());
    Label1->setBuddy(cbMailbox);
    const std::vector<ChooserEntry> entries = ChooserEntries(table);
    for (const ChooserEntry& entry : entries)
        cbMailbox->addItem(ui::DisplayText(entry.text), entry.slot);
    cbMailbox->setCurrentIndex(ChooserPreselect(entries, current));

    QDialogButtonBox* buttons = ui::OkCancelButtons(this, btOK, btCancel);
    connect(btOK, &QPushButton::clicked, this, &TfrmWhichMailbox::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(cbMailbox);
    layout->addWidget(buttons);
    ui::MakeFixedSize(this);
}

std::optional<int> TfrmWhichMailbox::Chosen() const {
    if (cbMailbox->currentIndex() < 0) return std::nullopt;
    return ChooserNumber(ui::CoreText(cbMailbox->currentText()));
}

void TfrmWhichMailbox::btOKClick() {
    // OK with no entry chosen (the current mailbox has no server) would
    // check no mailbox at all: the dialog waits for a choice instead.
    if (!Chosen()) {
        cbMailbox->setFocus();
        return;
    }
    accept();
}

std::optional<int> ChooseMailbox(const MailboxTable& table, int current, QWidget* parent) {
    TfrmWhichMailbox dialog(table, current, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Chosen();
}

}  // namespace kelvane
