#pragma once

// Controls made in one call with their object name, caption and accessible
// name, so a page built in code stays short and no control goes unnamed.

#include <QAbstractButton>
#include <QString>
#include <type_traits>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;
class QWidget;

namespace kelvane::ui {

// The caption a screen reader says: without the mnemonic marker.
QString WithoutMnemonic(QString caption);

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& caption);
QRadioButton* MakeRadioButton(QWidget* parent, const char* name, const QString& caption);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
// A button showing only the "open folder" picture; the hint is its name.
QToolButton* MakeBrowseButton(QWidget* parent, const char* name, const QString& hint);
QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& accessibleName);
QSpinBox* MakeSpinBox(QWidget* parent, const char* name, const QString& accessibleName, int low,
                      int high);
// Any control with its object name and accessible name; a button also
// shows text as its caption.
template <class W>
W* MakeControl(QWidget* parent, const char* name, const QString& text = {}) {
    auto* w = new W(parent);
    w->setObjectName(name);
    if constexpr (std::is_base_of_v<QAbstractButton, W>) w->setText(text);
    w->setAccessibleName(QString(text).remove('&'));
    return w;
}

// A fixed text that wraps.
QLabel* MakeText(QWidget* parent, const QString& text);

}  // namespace kelvane::ui
