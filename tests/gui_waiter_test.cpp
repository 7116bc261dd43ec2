// A network wait inside a window: it sleeps until the socket, a window
// event, a Cancel from a window event or the time-out ends it, and does not
// wake while nothing happens. The server is scripted; every row also counts
// the thread's sleeps, which polling in slices would multiply.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <string>

#include "mail/agsocket.h"
#include "support/fakeserver.h"
#include "support/guitest.h"
#include "ui/eventpump.h"

namespace kelvane {
namespace {

using Ms = test::FakeServer::Ms;

class Client : public TmsMailBase {};

long Sleeps() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return u.ru_nvcsw;
}

enum class Outcome { Reply, Closed, Canceled, TimedOut };

struct Row {
    const char* name;
    std::function<void(test::FakeServer&)> script;
    bool cancelFromWindow;
    Outcome expected;
    qint64 atLeastMs, atMostMs;  // when the wait ends
};

TEST(WindowWaiterTest, EndsOnTheSocketAWindowEventOrTheTimeOutAndOnlyThen) {
    const Row rows[] = {
        {"a reply after a silence", [](auto& s) { s.Silence(Ms(300)).Send("250 here\r\n"); }, false,
         Outcome::Reply, 250, 800},
        {"the server closes inside a line",
         [](auto& s) { s.Silence(Ms(300)).Send("250 cu").Close(); }, false, Outcome::Closed, 250,
         800},
        {"Cancel pressed during the silence", [](auto& s) { s.Silence(Ms(2500)).Close(); }, true,
         Outcome::Canceled, 100, 800},
        {"silence past the time-out", [](auto& s) { s.Silence(Ms(3000)).Close(); }, false,
         Outcome::TimedOut, 950, 2500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeServer srv;
        srv.Send("200 ready\r\n");
        row.script(srv);
        Client client;
        ui::InstallEventPump(client);
        client.SetTimeOut(1);
        // Through the host lookup, whose end wakes the wait as a socket does.
        client.SetServer("localhost:" + std::to_string(srv.Port()));
        QElapsedTimer clock;
        clock.start();
        client.Open();
        client.Connect();
        EXPECT_GT(client.ReadReply(), 0);
        EXPECT_LT(clock.elapsed(), 500) << "the greeting or the lookup did not wake the wait";

        // A window event while the server is silent is handled during the wait.
        qint64 windowEventAt = -1;
        QTimer::singleShot(100, [&] {
            windowEventAt = clock.elapsed();
            if (row.cancelFromWindow) client.Cancel();
        });
        const long sleepsBefore = Sleeps();
        clock.restart();
        Outcome got = Outcome::Reply;
        std::string line;
        try {
            if (client.ReadReply(line) < 0) got = Outcome::Closed;
        } catch (const CancelError&) {
            got = Outcome::Canceled;
        } catch (const TimeOutError&) {
            got = Outcome::TimedOut;
        }
        const qint64 took = clock.elapsed();
        const long sleeps = Sleeps() - sleepsBefore;
        EXPECT_EQ(got, row.expected);
        if (got == Outcome::Reply) {
            EXPECT_EQ(line, "250 here");
        }
        EXPECT_GE(took, row.atLeastMs);
        EXPECT_LE(took, row.atMostMs);
        EXPECT_GE(windowEventAt, 90);
        EXPECT_LT(windowEventAt, 300) << "the window event waited for the socket";
        // Polling every 8 ms would sleep about 125 times a second.
        EXPECT_LT(sleeps, 10 + took / 50) << sleeps << " sleeps in " << took << " ms";
        if (got == Outcome::Canceled || got == Outcome::TimedOut) {
            EXPECT_FALSE(client.Connected());
        }
        srv.Finish(Ms(100));
    }
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
