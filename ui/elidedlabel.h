#pragma once

// A one-line label that shortens its text with "..." instead of pushing its
// neighbours or being drawn over them; the full text stays its tooltip and
// its accessible name.

#include <QLabel>

namespace kelvane::ui {

class ElidedLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    void SetText(const QString& text);
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelvane::ui
