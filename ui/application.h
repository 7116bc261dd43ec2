#pragma once

// The application object of the desktop program. An error that escapes a
// window's handler (a settings store that became unreadable, say) is shown
// and the program goes on, instead of taking the event loop down with it.

#include <QApplication>
#include <functional>
#include <string>

namespace kelvane::ui {

class Application : public QApplication {
  public:
    Application(int& argc, char** argv);

    // Where an escaped error goes; by default an error box over the active
    // window. Tests answer it as they answer every other box.
    void SetErrorHandler(std::function<void(const std::string&)> handler) {
        onError_ = std::move(handler);
    }

    bool notify(QObject* receiver, QEvent* event) override;

  private:
    std::function<void(const std::string&)> onError_;
};

}  // namespace kelvane::ui
