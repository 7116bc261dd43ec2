#include "ui/controls.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>

namespace kelvane::ui {

namespace {

template <typename T>
T* Named(T* control, const char* name, const QString& accessible) {
    control->setObjectName(name);
    control->setAccessibleName(accessible);
    return control;
}

}  // namespace

QString WithoutMnemonic(QString caption) {
    caption.replace("&&", QString(QChar(0xE000)));
    caption.remove('&');
    caption.replace(QChar(0xE000), '&');
    return caption;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& caption) {
    return Named(new QCheckBox(caption, parent), name, WithoutMnemonic(caption));
}

QRadioButton* MakeRadioButton(QWidget* parent, const char* name, const QString& caption) {
    return Named(new QRadioButton(caption, parent), name, WithoutMnemonic(caption));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = Named(new QPushButton(caption, parent), name, WithoutMnemonic(caption));
    b->setAutoDefault(false);  // Return stays the dialog's OK
    return b;
}

QToolButton* MakeBrowseButton(QWidget* parent, const char* name, const QString& hint) {
    auto* b = Named(new QToolButton(parent), name, hint);
    b->setIcon(
        QIcon::fromTheme("document-open", parent->style()->standardIcon(QStyle::SP_DirOpenIcon)));
    b->setToolTip(hint);
    return b;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& accessibleName) {
    return Named(new QLineEdit(parent), name, accessibleName);
}

QSpinBox* MakeSpinBox(QWidget* parent, const char* name, const QString& accessibleName, int low,
                      int high) {
    auto* s = Named(new QSpinBox(parent), name, accessibleName);
    s->setRange(low, high);
    s->setSingleStep(1);
    return s;
}

QLabel* MakeText(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setTextFormat(Qt::PlainText);
    return l;
}

}  // namespace kelvane::ui
