#include "settings/gui/mailboxpage.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/displaytext.h"

namespace kelvane {

namespace {

// Control names as the rows are numbered: edServe1 ... edServe12.
QByteArray Name(const char* prefix, int n) {
    return QByteArray(prefix) + QByteArray::number(n);
}

// The choices of cbPasswordFrom, in the order they are offered.
constexpr std::array<PasswordSource, 3> kSources = {PasswordSource::Keyring, PasswordSource::File,
                                                    PasswordSource::Command};

int SourceIndex(PasswordSource source) {
    for (std::size_t i = 0; i < kSources.size(); ++i)
        if (kSources[i] == source) return static_cast<int>(i);
    return 1;
}

PasswordSource SourceAt(int index) {
    return index >= 0 && index < static_cast<int>(kSources.size())
               ? kSources[static_cast<std::size_t>(index)]
               : PasswordSource::File;
}

QComboBox* MakeCombo(QWidget* parent, const QByteArray& name, const QString& accessible,
                     const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setAccessibleName(accessible);
    box->addItems(items);
    return box;
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
    for (const char* heading : {"POP Server", "User Name/Mailbox", "Password from", "Password",
                                "Sign-in", "Security", "Fingerprint"}) {
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
        r.cbPasswordFrom = MakeCombo(table, Name("cbPasswordFrom", n), "Password from " + num,
                                     {"Keyring", "Settings file", "Command"});
        r.cbPasswordFrom->setCurrentIndex(SourceIndex(PasswordSource::File));
        r.edPass = ui::MakeEdit(table, Name("edPass", n).constData(), "Password " + num);
        r.edPass->setEchoMode(QLineEdit::Password);
        r.edPassCommand =
            ui::MakeEdit(table, Name("edPassCommand", n).constData(), "Password command " + num);
        r.edPassCommand->setPlaceholderText("Prints the password, e.g. pass show mail");
        r.edPassCommand->hide();
        connect(r.cbPasswordFrom, &QComboBox::currentIndexChanged, this, [r](int index) {
            const bool command = SourceAt(index) == PasswordSource::Command;
            r.edPass->setHidden(command);
            r.edPassCommand->setHidden(!command);
        });
        // In the order of SignIn.
        r.cbSignIn = MakeCombo(table, Name("cbSignIn", n), "Sign-in " + num,
                               {"User/password", "OAuth 2.0 (XOAUTH2)"});
        // In the order of ConnectionSecurity.
        r.cbSecurity =
            MakeCombo(table, Name("cbSecurity", n), "Security " + num, {"None", "TLS", "STARTTLS"});
        r.edFingerprint =
            ui::MakeEdit(table, Name("edFingerprint", n).constData(), "Fingerprint " + num);
        r.edFingerprint->setPlaceholderText("SHA-256, when pinned");
        // Wide enough for a usual server and user name; the combo boxes
        // would otherwise take the room their longest items ask for.
        const QFontMetrics fm = r.edServe->fontMetrics();
        r.edServe->setMinimumWidth(fm.horizontalAdvance("pop.mail.example.com") + 12);
        r.edName->setMinimumWidth(fm.horizontalAdvance("someone.long") + 12);
        const auto place = [&](QWidget* w, int column) { grid->addWidget(w, n, column); };
        place(r.rb, 0);
        place(r.edServe, 1);
        place(r.edName, 2);
        place(r.cbPasswordFrom, 3);
        // The password and the command share a cell: one of them shows.
        place(r.edPass, 4);
        place(r.edPassCommand, 4);
        place(r.cbSignIn, 5);
        place(r.cbSecurity, 6);
        place(r.edFingerprint, 7);
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(4, 2);
    grid->setColumnStretch(7, 3);
    scroll->setWidget(table);
    // The rows scroll up and down, never sideways: a cut column hides a field.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumWidth(table->sizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width());

    auto* note = ui::MakeText(
        this,
        "Enter the name of your POP server, your user name on that server and your password. "
        "Your internet service provider supplies all three. Choose TLS or STARTTLS when the "
        "server offers a secure connection; a fingerprint pins the server's certificate. A "
        "password "
        "kept in the keyring is not shown: leave its field empty to keep it. A command prints "
        "the password, or the token of an OAuth 2.0 sign-in, at each check.");
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
        r.cbPasswordFrom->setCurrentIndex(SourceIndex(a.passwordSource));
        const bool file = a.passwordSource == PasswordSource::File;
        r.edPass->setText(file ? ui::DisplayText(a.password) : QString());
        r.edPass->setPlaceholderText(
            a.passwordSource == PasswordSource::Keyring && !a.server.empty() ? "In the keyring"
                                                                             : QString());
        r.edPassCommand->setText(ui::DisplayText(a.passwordCommand));
        r.edPassCommand->setCursorPosition(0);
        r.cbSignIn->setCurrentIndex(static_cast<int>(a.signIn));
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
        a.passwordSource = SourceAt(r.cbPasswordFrom->currentIndex());
        const bool command = a.passwordSource == PasswordSource::Command;
        // A hidden field is not the user's choice.
        a.password = command ? std::string() : ui::CoreText(r.edPass->text());
        a.passwordCommand = ui::CoreText(r.edPassCommand->text());
        a.signIn = static_cast<SignIn>(std::max(r.cbSignIn->currentIndex(), 0));
        a.security = static_cast<ConnectionSecurity>(std::max(r.cbSecurity->currentIndex(), 0));
        a.fingerprint = ui::CoreText(r.edFingerprint->text());
    }
}

void MailboxesPage::Load(const GeneralSettings& s) {
    LoadTable(s.table);
}

std::optional<PageRefusal> MailboxesPage::Store(GeneralSettings& s) const {
    StoreTable(s.table);
    if (const auto bad = s.Check()) return Refusal(*bad);
    return std::nullopt;
}

PageRefusal MailboxesPage::Refusal(const SaveServerResult& bad) const {
    const MailboxRow& r = rows_[static_cast<std::size_t>(bad.slot - 1)];
    QWidget* focus = r.edServe;
    switch (bad.focus) {
        case AccountField::UserName:
            focus = r.edName;
            break;
        case AccountField::Password:
            focus = r.edPassCommand->isHidden() ? r.edPass : r.edPassCommand;
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
    return PageRefusal{bad.message, focus};
}

}  // namespace kelvane
