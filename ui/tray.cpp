#include "ui/tray.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdint>
#include <cstdlib>

#include "ui/pictures.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define KELVANE_HAVE_XCB 1
#endif

namespace kelvane::ui {

namespace {

constexpr int kFrameMs = 500;

class QtTrayIcon : public TrayIcon {
  public:
    QtTrayIcon() {
        icon_.setToolTip("Kelvane");
        icon_.setIcon(ApplicationIcon());
        frames_.setInterval(kFrameMs);
        QObject::connect(&frames_, &QTimer::timeout, [this] {
            frame_ = 1 - frame_;
            icon_.setIcon(OwnIcon(frame_ == 0 ? Picture::Anim1 : Picture::Anim2));
        });
        QObject::connect(&icon_, &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason != QSystemTrayIcon::Context && OnActivated) OnActivated();
                         });
    }
    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    void Show() override { icon_.show(); }
    void SetHint(const QString& hint) override { icon_.setToolTip(hint); }
    void SetAnimated(bool animated) override {
        if (animated) {
            icon_.setIcon(OwnIcon(Picture::Anim1));
            frames_.start();
        } else {
            frames_.stop();
            icon_.setIcon(ApplicationIcon());
        }
    }
    void ShowHammer() override {
        frames_.stop();
        icon_.setIcon(OwnIcon(Picture::Hammer));
    }
    void SetMenu(QMenu* menu) override {
        menu_ = menu;
        icon_.setContextMenu(menu);
    }
    void SetMenuEnabled(bool enabled) override {
        // A menu that would open during a header pass offers commands that
        // drive the client inside its wait.
        if (menu_) menu_->setEnabled(enabled);
    }

  private:
    QSystemTrayIcon icon_;
    QTimer frames_;
    int frame_ = 0;
    QMenu* menu_ = nullptr;
};

bool TrayHostRegistered(QDBusConnection& bus) {
    const char* watcher = "org.kde.StatusNotifierWatcher";
    if (!bus.interface() || !bus.interface()->isServiceRegistered(watcher)) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, "/StatusNotifierWatcher",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QString(watcher) << QString("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

// An XEmbed tray (an older panel, trayer) owns the manager selection of
// its screen; the toolkit docks into it without the session bus.
bool XEmbedTrayPresent() {
#if defined(KELVANE_HAVE_XCB) && QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    // The screen is the number after the dot of the display name, 0 without one.
    int screen = 0;
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.indexOf('.', colon < 0 ? 0 : colon);
    if (dot >= 0) screen = display.mid(dot + 1).toInt();
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr);
    if (!atom) return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE) return false;  // nobody ever took it
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner) return false;
    const bool owned = owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
#else
    return false;
#endif
}

bool TrayPresent(QDBusConnection& bus) {
    return XEmbedTrayPresent() || TrayHostRegistered(bus);
}

}  // namespace

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return std::make_unique<QtTrayIcon>();
}

void WaitForTrayHost(QObject* context, int timeoutMs, std::function<void()> ready) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || TrayPresent(bus)) {
        QTimer::singleShot(0, context, ready);
        return;
    }
    auto* poll = new QTimer(context);
    auto* waited = new QElapsedTimer;
    waited->start();
    poll->setInterval(250);
    QObject::connect(poll, &QTimer::timeout, context, [poll, waited, timeoutMs, ready] {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!TrayPresent(session) && waited->elapsed() < timeoutMs) return;
        poll->stop();
        poll->deleteLater();
        delete waited;
        ready();
    });
    poll->start();
}

}  // namespace kelvane::ui
