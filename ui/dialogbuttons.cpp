#include "ui/dialogbuttons.h"

#include <QDialogButtonBox>
#include <QPushButton>

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

}  // namespace kelvane::ui
