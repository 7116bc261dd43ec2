#include "ui/dialogbuttons.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLayout>
#include <QPushButton>
#include <algorithm>

namespace kelvane::ui {

QDialogButtonBox* OkCancelButtons(QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* buttons = new QDialogButtonBox(parent);
    ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("btOK");
    ok->setAccessibleName("OK");
    ok->setDefault(true);
    cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("btCancel");
    cancel->setAccessibleName("Cancel");
    return buttons;
}

void MakeFixedSize(QDialog* dialog) {
    const bool onTop = dialog->windowFlags() & Qt::WindowStaysOnTopHint;
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                           (onTop ? Qt::WindowStaysOnTopHint : Qt::Widget));
    // The title bar's font is the desktop's; the window's own font with room
    // for the buttons and the icon is a fair guess at its width.
    const int caption =
        dialog->fontMetrics().horizontalAdvance(dialog->windowTitle()) * 5 / 4 + 120;
    dialog->setMinimumWidth(std::max(dialog->minimumWidth(), caption));
    if (dialog->layout()) dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kelvane::ui
