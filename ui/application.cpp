#include "ui/application.h"

#include <exception>

#include "ui/messageboxes.h"

namespace kelvane::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    onError_ = [](const std::string& text) { QtMessageBoxes(activeWindow()).Error(text); };
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (onError_) onError_(e.what());
        return false;
    }
}

}  // namespace kelvane::ui
