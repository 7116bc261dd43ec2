#pragma once

// The OK and Cancel row every dialog ends with.

class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace kelvane::ui {

// OK (the default button, Enter) and Cancel (Escape), named btOK and
// btCancel; the caller connects them.
QDialogButtonBox* OkCancelButtons(QWidget* parent, QPushButton*& ok, QPushButton*& cancel);

}  // namespace kelvane::ui
