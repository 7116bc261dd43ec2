#pragma once

// The OK and Cancel row every dialog ends with.

class QDialog;
class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace kelvane::ui {

// OK (the default button, Enter) and Cancel (Escape), named btOK and
// btCancel; the caller connects them.
QDialogButtonBox* OkCancelButtons(QWidget* parent, QPushButton*& ok, QPushButton*& cancel);

// A dialog of one size: no maximise or minimise button, its layout fixes the
// size, and it is wide enough for its whole caption. Call after the layout.
void MakeFixedSize(QDialog* dialog);

}  // namespace kelvane::ui
