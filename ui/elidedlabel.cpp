#include "ui/elidedlabel.h"

#include <QPainter>

namespace kelvane::ui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SetText(text);
}

void ElidedLabel::SetText(const QString& text) {
    setText(text);
    setToolTip(text);
    // A screen reader hears what the label says, not what it is.
    setAccessibleName(text);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance("...") * 2, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, shown);
}

}  // namespace kelvane::ui
