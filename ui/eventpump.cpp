#include "ui/eventpump.h"

#include <poll.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <optional>

#include "mail/agsocket.h"

namespace kelvane::ui {

namespace {

// With a dispatch at least every 8 ms, a window event waits at most about
// 16 ms.
constexpr qint64 kMinIntervalMs = 8;

// The last time the window events were dispatched, by the pump or a waiter.
QElapsedTimer& LastDispatch() {
    static QElapsedTimer last;
    return last;
}

qint64 SinceDispatchMs() {
    return LastDispatch().isValid() ? LastDispatch().elapsed() : kMinIntervalMs;
}

short PollOnce(int fd, short events, int ms) {
    pollfd p{};
    p.fd = fd;
    p.events = events;
    return ::poll(&p, 1, ms) > 0 ? p.revents : 0;
}

class WindowWaiter : public SocketWaiter {
  public:
    short Wait(int fd, short events, int timeoutMs) override;
    void Interrupt() override;

  private:
    // One running wait; a wait started from an event it dispatched stacks
    // on it.
    struct Parked {
        QEventLoop loop;
        Parked* outer = nullptr;
        std::optional<QSocketNotifier> read;
        std::optional<QSocketNotifier> write;
        void Park() {
            if (read) read->setEnabled(false);
            if (write) write->setEnabled(false);
        }
    };
    Parked* parked_ = nullptr;
};

short WindowWaiter::Wait(int fd, short events, int timeoutMs) {
    if (fd < 0) events = 0;
    if (timeoutMs < 0) timeoutMs = 0;
    // Until the pump interval is over the events wait anyway: sleep on the
    // socket alone, so a server that answers at once costs no dispatch and
    // a long list is not repainted after every reply.
    const int first = static_cast<int>(
        std::min<qint64>(timeoutMs, std::max<qint64>(0, kMinIntervalMs - SinceDispatchMs())));
    short revents = PollOnce(events ? fd : -1, events, first);
    if (revents != 0 || first >= timeoutMs) return revents;

    Parked me;
    me.outer = parked_;
    parked_ = &me;
    // Level-triggered: a notifier that fired is parked at once, or it would
    // fire again at every pass of the loop.
    const auto onReady = [&] {
        me.Park();
        revents = PollOnce(fd, events, 0);
        if (revents != 0) {
            me.loop.quit();
        } else {
            if (me.read) me.read->setEnabled(true);
            if (me.write) me.write->setEnabled(true);
        }
    };
    if (events & (POLLIN | POLLRDHUP | POLLPRI)) {
        me.read.emplace(fd, QSocketNotifier::Read);
        QObject::connect(&*me.read, &QSocketNotifier::activated, &me.loop, onReady);
    }
    if (events & POLLOUT) {
        me.write.emplace(fd, QSocketNotifier::Write);
        QObject::connect(&*me.write, &QSocketNotifier::activated, &me.loop, onReady);
    }
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &me.loop, [&] {
        me.Park();
        me.loop.quit();
    });
    timer.start(timeoutMs - first);
    me.loop.exec(QEventLoop::AllEvents);
    me.Park();
    parked_ = me.outer;
    LastDispatch().start();
    return revents;
}

void WindowWaiter::Interrupt() {
    for (Parked* p = parked_; p; p = p->outer) {
        p->Park();
        p->loop.quit();
    }
}

}  // namespace

void PumpEvents() {
    if (SinceDispatchMs() < kMinIntervalMs) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    LastDispatch().start();
}

std::unique_ptr<SocketWaiter> MakeWindowWaiter() {
    return std::make_unique<WindowWaiter>();
}

void InstallEventPump(TagSocket& socket) {
    socket.SetEventPump([] { PumpEvents(); });
    socket.SetWaiter(MakeWindowWaiter());
}

}  // namespace kelvane::ui
