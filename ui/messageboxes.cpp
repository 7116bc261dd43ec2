#include "ui/messageboxes.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/displaytext.h"

namespace kelvane::ui {

namespace {

int Show(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
    QMessageBox box(icon, QApplication::applicationDisplayName(), DisplayText(text), buttons,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(byDefault);
    return box.exec();
}

}  // namespace

void QtMessageBoxes::Information(const std::string& text) {
    Show(parent_, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtMessageBoxes::Confirm(const std::string& text) {
    return Show(parent_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes) == QMessageBox::Yes;
}

void QtMessageBoxes::Error(const std::string& text) {
    Show(parent_, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtMessageBoxes::Warning(const std::string& text) {
    Show(parent_, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

}  // namespace kelvane::ui
