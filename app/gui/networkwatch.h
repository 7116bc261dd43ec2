#pragma once

// Whether an unattended run may start now, following NetworkManager and
// logind on the system bus: while the network is down a run that falls due
// waits instead of failing, and a run that fell due while the computer slept
// starts soon after it wakes.

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class QDBusServiceWatcher;

namespace kelvane {

class RunGate {
  public:
    virtual ~RunGate() = default;
    // False only while a network manager reports less than a connection to
    // the Internet; without one the minute timer alone decides.
    virtual bool MayRunNow() const = 0;
    // A run fell due and was held back: the run-due callback comes when it
    // may start.
    virtual void Postpone() = 0;
    // When the next unattended run falls due (invalid: none), so that one
    // falling due during a sleep is noticed at resume.
    virtual void SetNextRunDue(const QDateTime& due) = 0;
    void SetOnRunDue(std::function<void()> runDue) { onRunDue_ = std::move(runDue); }

  protected:
    std::function<void()> onRunDue_;
};

// How long a postponed run waits once it may start.
struct NetworkWatchDelays {
    // After the network comes back: time for addresses and names to settle.
    int afterOnlineMs = 3000;
    // After resume: time for the network to come back.
    int afterResumeMs = 10000;
};

class NetworkWatch : public QObject, public RunGate {
    Q_OBJECT
  public:
    // NetworkManager's NM_STATE_CONNECTED_GLOBAL.
    static constexpr uint kConnectedGlobal = 70;

    explicit NetworkWatch(QDBusConnection systemBus,
                          std::function<QDateTime()> now = &QDateTime::currentDateTime,
                          NetworkWatchDelays delays = NetworkWatchDelays{},
                          QObject* parent = nullptr);

    bool MayRunNow() const override;
    void Postpone() override;
    void SetNextRunDue(const QDateTime& due) override;

    // NetworkManager's last reported state; none without it.
    std::optional<uint> NetworkState() const { return state_; }

  private Q_SLOTS:
    void stateChanged(uint state);
    void prepareForSleep(bool sleeping);

  private:
    void ReadState();
    void StartWhenOnline(int delayMs);
    void Fire();

    QDBusConnection bus_;
    std::function<QDateTime()> now_;
    NetworkWatchDelays delays_;
    QDBusServiceWatcher* managerWatch_ = nullptr;
    std::optional<uint> state_;
    QDateTime due_;
    bool pending_ = false;
    bool asleep_ = false;
    QTimer start_;
};

}  // namespace kelvane
