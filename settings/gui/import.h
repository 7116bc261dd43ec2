#pragma once

// The keyword import dialog; created once at start, its page comes with the
// rule editing windows.

#include <QDialog>

namespace kelvane {

class TfrmImportSpam : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmImportSpam(QWidget* parent = nullptr);
};

}  // namespace kelvane
