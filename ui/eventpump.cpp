#include "ui/eventpump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "mail/agsocket.h"

namespace kelvane::ui {

namespace {
constexpr qint64 kMinIntervalMs = 20;
}

void PumpEvents() {
    static QElapsedTimer last;
    if (last.isValid() && last.elapsed() < kMinIntervalMs) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    last.start();
}

void InstallEventPump(TagSocket& socket) {
    socket.SetEventPump([] { PumpEvents(); });
}

}  // namespace kelvane::ui
