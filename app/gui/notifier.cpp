#include "app/gui/notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "settings/autostart.h"

namespace kelvane {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::Show(const QString& body) {
    if (!bus_.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kApplicationId));
    const QString appId = QString::fromLatin1(kApplicationId);
    call << QStringLiteral("Kelvane") << lastId_ << appId << QStringLiteral("Kelvane") << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Show Kelvane")} << hints
         << int(-1);
    // No activation: without a running server there is nothing to show.
    call.setAutoStartService(false);
    // Asynchronous, so a server that hangs never stops the program; a
    // missing server's error reply is dropped.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid()) lastId_ = reply.value();
        w->deleteLater();
    });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (id == lastId_ && lastId_ != 0 && action == QLatin1String("default") && onActivated_)
        onActivated_();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    // A closed notification cannot be replaced; the next one starts afresh.
    if (id == lastId_) lastId_ = 0;
}

}  // namespace kelvane
