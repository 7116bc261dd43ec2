#pragma once

// For the window tests: a main() that runs them offscreen, and message boxes
// answered by the test, which states each one before the action.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <deque>
#include <string>

#include "ui/application.h"
#include "ui/messageboxes.h"

namespace kelvane::test {

// Test discovery runs the binary at build time without ctest's environment,
// so the platform defaults to offscreen here.
inline int GuiTestMain(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    ui::Application app(argc, argv);
    return RUN_ALL_TESTS();
}

// The screenshots' dark theme: the Fusion style's palette in dark colours.
inline QPalette DarkPalette() {
    QPalette dark = QApplication::style()->standardPalette();
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(45, 45, 48)},
                                {QPalette::WindowText, QColor(230, 230, 230)},
                                {QPalette::Base, QColor(30, 30, 32)},
                                {QPalette::AlternateBase, QColor(45, 45, 48)},
                                {QPalette::Text, QColor(230, 230, 230)},
                                {QPalette::Button, QColor(55, 55, 58)},
                                {QPalette::ButtonText, QColor(230, 230, 230)},
                                {QPalette::Highlight, QColor(42, 130, 218)},
                                {QPalette::HighlightedText, QColor(Qt::white)},
                                {QPalette::Link, QColor(110, 170, 255)}})
        dark.setColor(role, colour);
    return dark;
}

// Fails the test on a box it was not told about, as the fake server fails on
// a line it did not expect.
class ScriptedBoxes : public ui::MessageBoxes {
  public:
    // kind: "info", "confirm", "error" or "warning".
    ScriptedBoxes& Expect(std::string kind, std::string text, bool answer = true) {
        expected_.push_back({std::move(kind), std::move(text), answer});
        return *this;
    }
    void Information(const std::string& text) override { Take("info", text); }
    bool Confirm(const std::string& text) override { return Take("confirm", text); }
    void Error(const std::string& text) override { Take("error", text); }
    void Warning(const std::string& text) override { Take("warning", text); }
    // Every box told about was shown.
    bool Done() const { return expected_.empty(); }

  private:
    struct Box {
        std::string kind, text;
        bool answer;
    };
    bool Take(const std::string& kind, const std::string& text) {
        if (expected_.empty() || expected_.front().kind != kind || expected_.front().text != text) {
            ADD_FAILURE() << "unexpected " << kind << " box: " << text;
            return false;
        }
        const bool answer = expected_.front().answer;
        expected_.pop_front();
        return answer;
    }
    std::deque<Box> expected_;
};

}  // namespace kelvane::test
