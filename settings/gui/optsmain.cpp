#include "settings/gui/optsmain.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvane {

TfrmOptionsMain::TfrmOptionsMain(const std::string& programDir, QWidget* parent)
    : QDialog(parent), rules_(programDir) {
    setObjectName("TfrmOptionsMain");
    setWindowTitle("Spam settings");
    auto* text = new QLabel(
        "The rule lists are the files subj.lst, from.lst, header.lst, except.lst and known.lst "
        "in the program folder. kelvane-cli eval shows how they judge a saved message.",
        this);
    text->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
}

}  // namespace kelvane
