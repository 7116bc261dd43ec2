// A window during a network wait on a silent server: how long an event of
// the window waits to be handled, and how often the waiting thread wakes
// and how much processor time it takes while nothing happens. The window
// events stand in for the display connection: a descriptor a notifier
// watches, written every 20 ms from another thread. Modes: 0 the pump
// alone (the socket polled in slices, the pump between them), 1 the window
// waiter. Arg 2: 0 silent, 1 with window events. BM_RoundTrips: a strict
// exchange of 2,000 command lines and replies on loopback, which the waiter
// must not slow down.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "mail/agsocket.h"
#include "ui/eventpump.h"

namespace {

using Steady = std::chrono::steady_clock;

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Steady::now().time_since_epoch())
        .count();
}

class SilentClient : public kelvane::TmsMailBase {};

// A listener that takes the connection and never says anything.
struct SilentServer {
    int fd = -1;
    int port = 0;
    SilentServer() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~SilentServer() { ::close(fd); }
};

struct ThreadUsage {
    double cpuMs;
    long wakeups;  // voluntary context switches: each sleep that ended
};

ThreadUsage Usage() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    const double ms = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                      (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    return {ms, u.ru_nvcsw};
}

void BM_WaitOnSilentServer(benchmark::State& state) {
    const bool waiter = state.range(0) == 1;
    const bool events = state.range(1) == 1;
    SilentServer server;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    std::vector<double> latencies;
    QSocketNotifier display(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(&display, &QSocketNotifier::activated, [&] {
        std::int64_t sent = 0;
        while (::read(pipeFds[0], &sent, sizeof sent) == sizeof sent)
            latencies.push_back((NowUs() - sent) / 1e3);
    });

    double cpuMs = 0;
    long wakeups = 0;
    for (auto _ : state) {
        SilentClient client;
        client.SetServer("127.0.0.1:" + std::to_string(server.port));
        client.SetTimeOut(2);
        if (waiter)
            kelvane::ui::InstallEventPump(client);
        else
            client.SetEventPump([] { kelvane::ui::PumpEvents(); });
        client.Open();
        client.Connect();

        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (events && !stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const std::int64_t now = NowUs();
                [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &now, sizeof now);
            }
        });
        const ThreadUsage before = Usage();
        try {
            client.ReadReply();
        } catch (const kelvane::TimeOutError&) {
        }
        const ThreadUsage after = Usage();
        stop = true;
        writer.join();
        cpuMs += after.cpuMs - before.cpuMs;
        wakeups += after.wakeups - before.wakeups;
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    const auto runs = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = cpuMs / runs;
    state.counters["wakeups"] = static_cast<double>(wakeups) / runs;
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        double sum = 0;
        for (double l : latencies)
            sum += l;
        state.counters["latency_mean_ms"] = sum / static_cast<double>(latencies.size());
        state.counters["latency_p95_ms"] = latencies[latencies.size() * 95 / 100];
        state.counters["latency_max_ms"] = latencies.back();
    }
}
BENCHMARK(BM_WaitOnSilentServer)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"waiter", "events"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Answers every line with one reply line, at once.
struct EchoServer {
    SilentServer listener;
    std::thread thread;
    EchoServer() {
        thread = std::thread([this] {
            const int fd = ::accept(listener.fd, nullptr, nullptr);
            if (fd < 0) return;
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
                for (ssize_t i = 0; i < n; ++i)
                    if (buffer[i] == '\n') [[maybe_unused]]
                        const ssize_t w = ::write(fd, "200 ok\r\n", 8);
            }
            ::close(fd);
        });
    }
    ~EchoServer() { thread.join(); }
};

void BM_RoundTrips(benchmark::State& state) {
    constexpr int kRounds = 2000;
    const bool waiter = state.range(0) == 1;
    for (auto _ : state) {
        EchoServer server;
        {
            SilentClient client;
            client.SetServer("127.0.0.1:" + std::to_string(server.listener.port));
            if (waiter)
                kelvane::ui::InstallEventPump(client);
            else
                client.SetEventPump([] { kelvane::ui::PumpEvents(); });
            client.Open();
            client.Connect();
            for (int i = 0; i < kRounds; ++i) {
                client.SendLine("NOOP");
                client.ReadReply();
            }
            client.Close();
        }
    }
    state.counters["per_round_us"] = benchmark::Counter(
        kRounds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RoundTrips)->ArgName("waiter")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
