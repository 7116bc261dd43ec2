#pragma once

// For the window tests: a main() that runs them offscreen, and message boxes
// answered by the test, which states each one before the action.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
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
