#pragma once

// The message boxes of every window behind one interface, so the core's
// questions reach a QMessageBox in the program and a scripted answer in the
// tests.

#include <string>

#include "base/prompts.h"

class QWidget;

namespace kelvane::ui {

class MessageBoxes : public UserPrompts {
  public:
    // An error message with an OK button.
    virtual void Error(const std::string& text) = 0;
    // A warning with an OK button.
    virtual void Warning(const std::string& text) = 0;
};

// Modal QMessageBoxes over parent. The text is plain, never rich text, so a
// server's error text shows as it came and double spaces survive.
class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void Information(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    void Error(const std::string& text) override;
    void Warning(const std::string& text) override;

  private:
    QWidget* parent_;
};

}  // namespace kelvane::ui
