#pragma once

// The desktop's D-Bus services the program follows: the notification
// server on the session bus; NetworkManager and logind on the system bus.

#include <QDBusConnection>

namespace kelvane {

// The session or system bus, from DBUS_SESSION_BUS_ADDRESS or
// DBUS_SYSTEM_BUS_ADDRESS when set (as every D-Bus client does), else the
// usual one. A bus that cannot be reached gives a connection that is not
// connected, and every call on it fails quietly.
QDBusConnection DesktopBus(QDBusConnection::BusType type);

}  // namespace kelvane
