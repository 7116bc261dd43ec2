#include "app/gui/vheader.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/displaytext.h"

namespace kelvane {

TfrmViewHeader::TfrmViewHeader(QWidget* parent) : QDialog(parent) {
    setObjectName("TfrmViewHeader");
    setWindowTitle("View Selected Headers");
    // A fixed window: nothing to maximise, and its whole caption shows.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(612, 390);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName("lblTitle");
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    // What is shown is what was fetched or judged; an edit would be lost on
    // closing, so the text can be read, selected and copied, not changed.
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMinimumSize(598, 305);
    lblTitle->setBuddy(Memo1);

    auto* buttons = new QDialogButtonBox(this);
    btOK = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    btOK->setObjectName("btOK");
    btOK->setDefault(true);
    // Escape closes the viewer as OK does (QDialog's reject).
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->addWidget(lblTitle);
    layout->addWidget(Memo1, 1);
    layout->addWidget(buttons);
}

void TfrmViewHeader::SetLines(const std::vector<std::string>& lines) {
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        text.push_back(ui::DisplayText(line));
    Memo1->setPlainText(text.join('\n'));
    Memo1->moveCursor(QTextCursor::Start);
}

QString TfrmViewHeader::Title() const {
    if (HeadersMode) return "Contents of selected e-mail headers";
    if (ReasonsMode) return "Reasons that e-mail is marked or not marked";
    return "Contents of e-mail";
}

void TfrmViewHeader::showEvent(QShowEvent* event) {
    lblTitle->setText(Title());
    Memo1->setAccessibleName(Title());
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    btOK->setFocus();
    QDialog::showEvent(event);
}

void ShowViewer(ViewerMode mode, const std::vector<std::string>& lines, QWidget* parent) {
    TfrmViewHeader viewer(parent);
    viewer.HeadersMode = mode == ViewerMode::Headers;
    viewer.ReasonsMode = mode == ViewerMode::Reasons;
    viewer.SetLines(lines);
    viewer.exec();
}

}  // namespace kelvane
