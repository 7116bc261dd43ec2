#include "app/gui/networkwatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace kelvane {

namespace {

const QString kManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

NetworkWatch::NetworkWatch(QDBusConnection systemBus, std::function<QDateTime()> now,
                           NetworkWatchDelays delays, QObject* parent)
    : QObject(parent), bus_(std::move(systemBus)), now_(std::move(now)), delays_(delays) {
    start_.setSingleShot(true);
    connect(&start_, &QTimer::timeout, this, [this] { Fire(); });
    if (!bus_.isConnected()) return;
    bus_.connect(kManager, kManagerPath, kManager, QStringLiteral("StateChanged"), this,
                 SLOT(stateChanged(uint)));
    bus_.connect(kLogin, kLoginPath, kLoginManager, QStringLiteral("PrepareForSleep"), this,
                 SLOT(prepareForSleep(bool)));
    managerWatch_ = new QDBusServiceWatcher(
        kManager, bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(managerWatch_, &QDBusServiceWatcher::serviceRegistered, this, [this] { ReadState(); });
    connect(managerWatch_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        // Without a network manager the minute timer alone decides again.
        state_.reset();
        if (pending_) StartWhenOnline(delays_.afterOnlineMs);
    });
    ReadState();
}

void NetworkWatch::ReadState() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kManager, kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kManager << QStringLiteral("State");
    get.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QDBusVariant> reply = *w;
        w->deleteLater();
        // A StateChanged that came first is newer than this answer.
        if (reply.isValid() && !state_) stateChanged(reply.value().variant().toUInt());
    });
}

bool NetworkWatch::MayRunNow() const {
    return !asleep_ && (!state_ || *state_ >= kConnectedGlobal);
}

void NetworkWatch::Postpone() {
    pending_ = true;
    if (MayRunNow()) StartWhenOnline(delays_.afterOnlineMs);
}

void NetworkWatch::SetNextRunDue(const QDateTime& due) {
    due_ = due;
}

void NetworkWatch::stateChanged(uint state) {
    state_ = state;
    if (state < kConnectedGlobal) {
        start_.stop();
    } else if (pending_ && !start_.isActive()) {
        StartWhenOnline(delays_.afterOnlineMs);
    }
}

void NetworkWatch::prepareForSleep(bool sleeping) {
    asleep_ = sleeping;
    if (sleeping) {
        start_.stop();
        return;
    }
    // The minute timer stood still during the sleep: a run whose time passed
    // meanwhile is due now.
    if (due_.isValid() && now_() >= due_) pending_ = true;
    if (pending_) StartWhenOnline(delays_.afterResumeMs);
}

void NetworkWatch::StartWhenOnline(int delayMs) {
    if (!MayRunNow()) return;  // stateChanged starts it
    start_.start(delayMs);
}

void NetworkWatch::Fire() {
    if (!pending_ || !MayRunNow()) return;
    pending_ = false;
    due_ = QDateTime();
    if (onRunDue_) onRunDue_();
}

}  // namespace kelvane
