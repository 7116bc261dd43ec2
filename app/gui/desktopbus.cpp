#include "app/gui/desktopbus.h"

namespace kelvane {

QDBusConnection DesktopBus(QDBusConnection::BusType type) {
    const char* variable =
        type == QDBusConnection::SystemBus ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
    const QString address = qEnvironmentVariable(variable);
    if (address.isEmpty())
        return type == QDBusConnection::SystemBus ? QDBusConnection::systemBus()
                                                  : QDBusConnection::sessionBus();
    // Named after the address, so each address is connected once.
    return QDBusConnection::connectToBus(address, QStringLiteral("kelvane:") + address);
}

}  // namespace kelvane
