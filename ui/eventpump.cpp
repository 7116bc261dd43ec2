#include "ui/eventpump.h"

#include <QCoreApplication>

#include "mail/agsocket.h"

namespace kelvane::ui {

void InstallEventPump(TagSocket& socket) {
    socket.SetEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

}  // namespace kelvane::ui
