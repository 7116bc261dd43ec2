#pragma once

// Desktop notifications after an unattended run, over
// org.freedesktop.Notifications on the session bus.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace kelvane {

class Notifier {
  public:
    virtual ~Notifier() = default;
    // Shows body under the summary "Kelvane", replacing this program's
    // previous notification. Without a notification server nothing happens.
    virtual void Show(const QString& body) = 0;
    // Called when the user clicks the notification (its "default" action).
    void SetOnActivated(std::function<void()> activated) { onActivated_ = std::move(activated); }

  protected:
    std::function<void()> onActivated_;
};

class DesktopNotifier : public QObject, public Notifier {
    Q_OBJECT
  public:
    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
    void Show(const QString& body) override;
    // The server's id of the last notification shown, 0 before the first.
    uint LastId() const { return lastId_; }

  private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

  private:
    QDBusConnection bus_;
    uint lastId_ = 0;
};

}  // namespace kelvane
