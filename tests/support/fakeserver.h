#pragma once

// A scripted TCP server for the mail-client tests. It listens on a free
// loopback port and, on a thread of its own, follows its script step by
// step: send text, expect a line, send slowly, stay silent, close. A step
// that needs a connection accepts the next one, so a script may span two
// sessions (Close, then more steps). Finish() tells whether the whole script
// ran and the client sent nothing it did not expect.
//
//   FakeServer srv;
//   srv.Send("+OK ready\r\n").Expect("USER bob").Send("+OK\r\n").Close();
//   client.SetServer(srv.Address());
//   ...
//   EXPECT_TRUE(srv.Finish()) << srv.Report();

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::test {

class FakeServer {
  public:
    enum class Family { IPv4, IPv6 };
    using Ms = std::chrono::milliseconds;

    explicit FakeServer(Family family = Family::IPv4);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    // False when the loopback address could not be bound (no ::1).
    bool Listening() const { return listener_ >= 0; }
    std::uint16_t Port() const { return port_; }
    // "127.0.0.1:port" or "[::1]:port".
    std::string Address() const;

    FakeServer& Send(std::string text);
    // The text in pieces of pieceSize bytes with a pause before each.
    FakeServer& SendSlowly(std::string text, std::size_t pieceSize, Ms pause);
    // One line from the client, compared without its CR LF.
    FakeServer& Expect(std::string line);
    FakeServer& Silence(Ms duration);
    // Waits for the client to close its end; anything it sends is unexpected.
    FakeServer& AwaitClientClose();
    // Closes the connection in order; bytes the client sent and no step read
    // are unexpected.
    FakeServer& Close();
    // Closes with a reset instead of an orderly close.
    FakeServer& Abort();

    // How a CAPA the script does not expect is answered, at any Expect
    // (default: refused, so the client talks command by command). Empty:
    // CAPA is a line like any other.
    void SetCapaAnswer(std::string answer) { capaAnswer_ = std::move(answer); }
    // The same for UIDL (default: refused, so messages are known by size and
    // headers alone).
    void SetUidlAnswer(std::string answer) { uidlAnswer_ = std::move(answer); }
    // Each expected line must come alone: a client that sends the next
    // command before the reply to this one fails.
    void SetLockstep(bool on) { lockstep_ = on; }

    // Limit of one Expect, AwaitClientClose or accept (default 5 s).
    void SetStepLimit(Ms limit) { stepLimit_ = limit; }

    // Waits until the script has run (at most limit), then stops the server.
    // True when every step ran and nothing went wrong.
    bool Finish(Ms limit = Ms(5000));
    // What went wrong, one problem a line.
    std::string Report() const;
    // Every byte the client sent.
    std::string Received() const;
    int Connections() const;

  private:
    struct Step {
        enum Kind { Send, Expect, Silence, AwaitClose, Close, Abort } kind;
        std::string text;
        std::size_t piece = 0;
        Ms pause{0};
    };

    FakeServer& Add(Step step);
    void Run();
    bool Stopping() const;
    bool EnsureClient();
    void RunStep(const Step& step);
    bool WaitReadable(int fd, Ms limit);
    void DrainUnexpected(const char* when);
    void Problem(std::string text);
    void DropClient();

    int listener_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
    Family family_;
    Ms stepLimit_{5000};
    std::string pending_;  // client bytes read past the last expected line
    std::string capaAnswer_ = "-ERR unknown command\r\n";
    std::string uidlAnswer_ = "-ERR unknown command\r\n";
    bool lockstep_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool running_ = false;  // a step is being carried out
    bool stop_ = false;
    std::vector<std::string> problems_;
    std::string received_;
    int connections_ = 0;
    std::thread thread_;
};

}  // namespace kelvane::test
