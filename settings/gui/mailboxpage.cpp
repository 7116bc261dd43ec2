#include "settings/gui/mailboxpage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/displaytext.h"

namespace kelvane {

namespace {

// Control names as the rows are numbered: edServe1 ... edServe12.
QByteArray Name(const char* prefix, int n) {
    return QByteArray(prefix) + QByteArray::number(n);
}

}  // namespace

MailboxesPage::MailboxesPage(QWidget* parent) : GeneralPage("pgMailboxes", "Mailboxes", parent) {
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("sbMailboxes");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* table = new QWidget(scroll);
    auto* grid = new QGridLayout(table);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    int column = 1;
    for (const char* heading :
         {"POP Server", "User Name/Mailbox", "Password", "Security", "Fingerprint"}) {
        auto* label = new QLabel(heading, table);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        grid->addWidget(label, 0, column++);
    }
    group_ = new QButtonGroup(this);
    // Made in row order, so Tab walks each slot's fields before the next slot's.
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        MailboxRow& r = rows_[static_cast<std::size_t>(n - 1)];
        const QString num = QString::number(n);
        r.rb = ui::MakeRadioButton(table, Name("rb", n).constData(), "Mailbox " + num);
        group_->addButton(r.rb, n);
        r.edServe = ui::MakeEdit(table, Name("edServe", n).constData(), "POP Server " + num);
        r.edName = ui::MakeEdit(table, Name("edName", n).constData(), "User Name/Mailbox " + num);
        r.edPass = ui::MakeEdit(table, Name("edPass", n).constData(), "Password " + num);
        r.edPass->setEchoMode(QLineEdit::Password);
        r.cbSecurity = new QComboBox(table);
        r.cbSecurity->setObjectName(Name("cbSecurity", n));
        r.cbSecurity->setAccessibleName("Security " + num);
        // In the order of ConnectionSecurity.
        r.cbSecurity->addItems({"None", "TLS", "STARTTLS"});
        r.edFingerprint =
            ui::MakeEdit(table, Name("edFingerprint", n).constData(), "Fingerprint " + num);
        r.edFingerprint->setPlaceholderText("SHA-256, when pinned");
        int c = 0;
        for (QWidget* w :
             {static_cast<QWidget*>(r.rb), static_cast<QWidget*>(r.edServe),
              static_cast<QWidget*>(r.edName), static_cast<QWidget*>(r.edPass),
              static_cast<QWidget*>(r.cbSecurity), static_cast<QWidget*>(r.edFingerprint)})
            grid->addWidget(w, n, c++);
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(3, 2);
    grid->setColumnStretch(5, 3);
    scroll->setWidget(table);

    auto* note = ui::MakeText(
        this,
        "Enter the name of your POP server, your user name on that server and your password. "
        "Your internet service provider supplies all three. Choose TLS or STARTTLS when the "
        "server offers a secure connection; a fingerprint pins the server's certificate.");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(note);
}

void MailboxesPage::LoadTable(const MailboxTable& table) {
    // A stored number outside 1-12 leaves the radio buttons as they were.
    if (table.selected >= 1 && table.selected <= keys::MailboxSlots)
        rows_[static_cast<std::size_t>(table.selected - 1)].rb->setChecked(true);
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxRow& r = rows_[static_cast<std::size_t>(n - 1)];
        const MailboxAccount& a = table.slot(n);
        r.edServe->setText(ui::DisplayText(a.server));
        r.edName->setText(ui::DisplayText(a.userName));
        r.edPass->setText(ui::DisplayText(a.password));
        r.cbSecurity->setCurrentIndex(static_cast<int>(a.security));
        r.edFingerprint->setText(ui::DisplayText(a.fingerprint));
        r.edFingerprint->setCursorPosition(0);
    }
}

void MailboxesPage::StoreTable(MailboxTable& table) const {
    const int checked = group_->checkedId();
    if (checked >= 1) table.selected = checked;
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxRow& r = rows_[static_cast<std::size_t>(n - 1)];
        MailboxAccount& a = table.slot(n);
        a.server = ui::CoreText(r.edServe->text());
        a.userName = ui::CoreText(r.edName->text());
        a.password = ui::CoreText(r.edPass->text());
        a.security = static_cast<ConnectionSecurity>(std::max(r.cbSecurity->currentIndex(), 0));
        a.fingerprint = ui::CoreText(r.edFingerprint->text());
    }
}

void MailboxesPage::Load(const GeneralSettings& s) {
    LoadTable(s.table);
}

std::optional<PageRefusal> MailboxesPage::Store(GeneralSettings& s) const {
    StoreTable(s.table);
    const auto bad = s.Check();
    if (!bad) return std::nullopt;
    const MailboxRow& r = rows_[static_cast<std::size_t>(bad->slot - 1)];
    QWidget* focus = r.edServe;
    switch (bad->focus) {
        case AccountField::UserName:
            focus = r.edName;
            break;
        case AccountField::Password:
            focus = r.edPass;
            break;
        case AccountField::Security:
            focus = r.cbSecurity;
            break;
        case AccountField::Fingerprint:
            focus = r.edFingerprint;
            break;
        default:
            break;
    }
    return PageRefusal{bad->message, focus};
}

}  // namespace kelvane
