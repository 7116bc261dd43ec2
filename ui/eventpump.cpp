#include "ui/eventpump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "mail/agsocket.h"

namespace kelvane::ui {

namespace {
// With the socket wait of 8 ms, a window event waits at most about 16 ms.
constexpr qint64 kMinIntervalMs = 8;
}  // namespace

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
