#include "mail/agsocket.h"
#include "mail/linestream.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "support/fakeserver.h"
#include "support/pop3script.h"

namespace kelvane {
namespace {

using test::FakeServer;
using Ms = std::chrono::milliseconds;

// Every socket of these tests counts with it, so that a test that goes
// wrong ends in a fraction of a second instead of a minute.
using test::FastClock;
using test::kFastClock;

class ManualClock : public Clock {
  public:
    std::int64_t NowMs() const override { return now; }
    std::int64_t now = 0;
};

class RecordingDialUp : public DialUpLink {
  public:
    explicit RecordingDialUp(std::vector<std::string>& log) : log_(log) {}
    void Connect() override {
        log_.push_back("Dial");
        if (fail) throw KelvaneError("no carrier");
    }
    void HangUp() override { log_.push_back("HangUp"); }
    bool fail = false;

  private:
    std::vector<std::string>& log_;
};

// A port nobody listens on: bound, then released.
std::uint16_t ClosedPort() {
    FakeServer probe;
    const std::uint16_t port = probe.Port();
    probe.Finish(Ms(0));
    return port;
}

// A socket on the fast clock whose events and pump calls are recorded.
struct Session {
    Session() {
        sock.SetClock(&kFastClock);
        sock.OnOpen = [this](TagSocket&) { events.push_back("Open"); };
        sock.OnClosing = [this](TagSocket&) { events.push_back("Closing"); };
        sock.OnClosed = [this](TagSocket&) { events.push_back("Closed"); };
        sock.OnCancel = [this](TagSocket&) { events.push_back("Cancel"); };
        sock.OnError = [this](TagSocket&, const std::string& m) { events.push_back("Error:" + m); };
        sock.SetEventPump([this] {
            const auto now = std::chrono::steady_clock::now();
            if (pumps > 0) maxGap = std::max(maxGap, now - lastPump);
            lastPump = now;
            ++pumps;
            if (onPump) onPump();
        });
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Open and connect to the fake server, with a fresh state as the
    // protocol layers do it.
    void Connect(const FakeServer& srv) {
        sock.SetServer(srv.Address());
        sock.ResetState();
        sock.Open();
        sock.ResetState();
        sock.Connect();
    }

    TmsMailBase sock;
    std::vector<std::string> events;
    std::function<void()> onPump;
    int pumps = 0;
    std::chrono::steady_clock::time_point lastPump;
    std::chrono::steady_clock::duration maxGap{};
};

class SocketTest : public ::testing::Test, protected Session {};

// ---------------------------------------------------------------- small parts

TEST(ReplyCodeTest, FirstThreeBytesAsNumber) {
    const TmsMailBase sock("smtp", 25);
    const struct {
        const char* line;
        int code;
    } cases[] = {
        {"250 OK", 250}, {"354-more", 354}, {"25", 25},     {"", -1},
        {"+OK", -1},     {"abc 1", -1},     {"-12 x", -12},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sock.ReplyCode(c.line), c.code) << c.line;
}

TEST(TransferPercentTest, RoundsHalfToEven) {
    const struct {
        std::int64_t done, expected;
        int perc;
    } cases[] = {
        {0, 100, 0}, {1, 8, 12},  {3, 8, 38},  {5, 8, 62},   {1, 3, 33},
        {2, 3, 67},  {8, 8, 100}, {9, 8, 112}, {10, -1, -1}, {10, 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TransferPercent(c.done, c.expected), c.perc) << c.done << "/" << c.expected;
}

TEST(TimeCounterTest, ExpiresAfterLimitUntilRestartedOrCleared) {
    ManualClock clock;
    TTimeCounter counter(&clock);
    counter.SetLimit(3);
    counter.Start();
    clock.now = 2999;
    EXPECT_FALSE(counter.Expired());
    EXPECT_EQ(counter.Remaining(), 1);
    clock.now = 3000;
    EXPECT_TRUE(counter.Expired());
    counter.Stop();
    EXPECT_TRUE(counter.Expired()) << "a wait asks after stopping why it ended";

    counter.Start();  // a fresh wait gets the whole limit
    EXPECT_FALSE(counter.Expired());
    EXPECT_EQ(counter.Remaining(), 3);
    clock.now += 2999;
    EXPECT_FALSE(counter.Expired());
    clock.now += 1;
    EXPECT_TRUE(counter.Expired());

    counter.ClearExpired();  // also without a restart
    EXPECT_FALSE(counter.Expired());
    counter.Stop();
    clock.now += 10000;  // a stopped counter does not tick
    EXPECT_FALSE(counter.Expired());

    counter.SetLimit(0);  // the first tick expires it
    counter.Start();
    clock.now += 999;
    EXPECT_FALSE(counter.Expired());
    clock.now += 1;
    EXPECT_TRUE(counter.Expired());
}

std::vector<std::string> AllLines(TLineStream& reader) {
    std::vector<std::string> out;
    for (std::string line = reader.ReadLine(); !reader.Eof(); line = reader.ReadLine())
        out.push_back(line);
    return out;
}

// Line lengths: short to print when a test of long lines fails.
std::vector<std::size_t> Sizes(const std::vector<std::string>& lines) {
    std::vector<std::size_t> out;
    for (const auto& line : lines)
        out.push_back(line.size());
    return out;
}

TEST(LineStreamTest, SplitsLines) {
    using V = std::vector<std::string>;
    const struct {
        const char* name;
        std::string text;
        V lines;
    } cases[] = {
        {"empty", "", {}},
        {"mixed ends", "a\r\nb\nc\rd\r\n", {"a", "b", "c", "d"}},
        {"empty lines", "\r\n\r\nx\r\n", {"", "", "x"}},
        {"LF CR is two ends", "a\n\rb\n", {"a", "", "b"}},
        {"last line without end kept", "a\r\nb", {"a", "b"}},
        {"only a line without end", "abc", {"abc"}},
        {"8-bit bytes kept", "\xE4\xFF\x01\r\n", {"\xE4\xFF\x01"}},
    };
    for (const auto& c : cases) {
        TLineStream reader(c.text);
        EXPECT_EQ(AllLines(reader), c.lines) << c.name;
        EXPECT_EQ(reader.ReadLine(), TLineStream::kEndOfLines) << c.name;
    }
}

TEST(LineStreamTest, LinesAcrossChunkBoundaries) {
    const std::size_t chunk = TLineStream::kChunkSize;
    // A CR LF split by the boundary stays one line end.
    std::string text = std::string(chunk - 1, 'a') + "\r\nb\r\n";
    TLineStream reader(text);
    EXPECT_EQ(Sizes(AllLines(reader)), (std::vector<std::size_t>{chunk - 1, 1}));

    // A line cut by the boundary is read whole with the next chunk.
    text = std::string(100, 'x') + "\r\n" + std::string(chunk, 'y') + "\r\nz\r\n";
    reader.SetData(text);
    auto lines = AllLines(reader);
    ASSERT_GE(lines.size(), 3u) << ::testing::PrintToString(Sizes(lines));
    EXPECT_EQ(lines.front(), std::string(100, 'x'));
    EXPECT_EQ(lines.back(), "z");
    std::string joined;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i)
        joined += lines[i];
    EXPECT_TRUE(joined == std::string(chunk, 'y'))
        << "a line longer than a chunk comes in pieces: " << ::testing::PrintToString(Sizes(lines));

    // Exactly one chunk of data, then Reset reads it all again.
    text = std::string(chunk - 2, 'q') + "\r\n";
    reader.SetData(text);
    EXPECT_EQ(AllLines(reader).size(), 1u);
    EXPECT_TRUE(reader.Eof());
    reader.Reset();
    EXPECT_FALSE(reader.Eof());
    EXPECT_EQ(reader.ReadLine(), std::string(chunk - 2, 'q'));
}

// The last chunk is read whole, wherever the chunk boundaries fall.
TEST(LineStreamTest, LastLineWithoutEndAfterFullChunks) {
    using V = std::vector<std::string>;
    const std::size_t chunk = TLineStream::kChunkSize;
    const struct {
        const char* name;
        std::string text;
        V lines;
    } cases[] = {
        {"CR LF split by the boundary, then the rest",
         std::string(chunk - 1, 'a') + "\r\nlast",
         {std::string(chunk - 1, 'a'), "last"}},
        {"rest is all of the second chunk",
         "x\r\n" + std::string(chunk - 3, 'z'),
         {"x", std::string(chunk - 3, 'z')}},
        {"line longer than a chunk",
         std::string(chunk + 5, 'w'),
         {std::string(chunk, 'w'), std::string(5, 'w')}},
        {"exactly one chunk, no line end", std::string(chunk, 'v'), {std::string(chunk, 'v')}},
    };
    for (const auto& c : cases) {
        TLineStream reader(c.text);
        const V lines = AllLines(reader);
        EXPECT_TRUE(lines == c.lines) << c.name << ": " << ::testing::PrintToString(Sizes(lines));
        EXPECT_EQ(reader.ReadLine(), TLineStream::kEndOfLines) << c.name;
    }
}

// ---------------------------------------------------------------- host and port

TEST_F(SocketTest, ResolvesHostAndPort) {
    const struct {
        const char* server;
        const char* service;
        int defaultPort;
        std::uint16_t port;
        const char* address;
    } cases[] = {
        {"127.0.0.1:995", "pop3", 110, 995, "127.0.0.1"},
        {"127.0.0.1", "pop3", 4242, 110, "127.0.0.1"},
        {"127.0.0.1:abc", "pop3", 4242, 110, "127.0.0.1"},
        {"127.0.0.1:0", "pop3", 4242, 110, "127.0.0.1"},
        {"127.0.0.1:65537", "pop3", 110, 1, "127.0.0.1"},
        {"127.0.0.1", "kelvane-no-such-service", 4242, 4242, "127.0.0.1"},
        {"localhost:2110", "pop3", 110, 2110, "127.0.0.1"},
        {"[::1]:995", "pop3", 110, 995, "::1"},
        {"[::1]", "pop3", 4242, 110, "::1"},
        {"::1", "pop3", 4242, 110, "::1"},
    };
    const bool haveServices = getservbyname("pop3", "tcp") != nullptr;
    for (const auto& c : cases) {
        TmsMailBase s(c.service, c.defaultPort);
        s.SetClock(&kFastClock);
        s.SetServer(c.server);
        ASSERT_NO_THROW(s.Open()) << c.server;
        if (haveServices || c.port != 110) {
            EXPECT_EQ(s.Port(), c.port) << c.server;
        }
        EXPECT_EQ(s.RemoteAddress(), c.address) << c.server;
        EXPECT_TRUE(s.Connected()) << "the created socket counts as connected";
        EXPECT_FALSE(s.LocalHost().empty());
    }
}

TEST_F(SocketTest, OpenRefusesMissingServerOrService) {
    EXPECT_THROW(
        {
            try {
                sock.Open();
            } catch (const SocketError& e) {
                EXPECT_STREQ(e.what(), "Server property is required");
                EXPECT_EQ(e.Code(), kErrServerRequired);
                throw;
            }
        },
        SocketError);
    EXPECT_EQ(events, (std::vector<std::string>{"Open", "Error:Server property is required"}));

    TmsMailBase noService("", 110);
    noService.SetServer("127.0.0.1");
    try {
        noService.Open();
        ADD_FAILURE() << "no error";
    } catch (const SocketError& e) {
        EXPECT_STREQ(e.what(), "Service name is required");
    }
    noService.SetServer("127.0.0.1:110");
    EXPECT_NO_THROW(noService.Open()) << "a port needs no service name";
}

// ---------------------------------------------------------------- sessions

TEST_F(SocketTest, SessionEventOrderWithDialUp) {
    FakeServer srv;
    srv.Send("220 ready\r\n").Expect("HELO me").Send("250 hi\r\n").Expect("QUIT");
    srv.Send("221 bye\r\n").AwaitClientClose();
    RecordingDialUp ras(events);
    sock.SetRAS(&ras);

    Connect(srv);
    std::string line;
    EXPECT_EQ(sock.ReadReply(line), 220);
    EXPECT_EQ(line, "220 ready");
    sock.SendLine("HELO me");
    EXPECT_EQ(sock.ReadReply(), 250);
    EXPECT_EQ(sock.LastReply(), "250 hi");
    sock.SendLine("QUIT");
    EXPECT_EQ(sock.ReadReply(), 221);
    sock.Close();
    EXPECT_FALSE(sock.Connected());
    sock.Close();  // nothing left to close: only the dial-up is told

    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(events,
              (std::vector<std::string>{"Dial", "Open", "Closing", "Closed", "HangUp", "HangUp"}));
}

TEST_F(SocketTest, FailedDialEndsOpenBeforeOnOpen) {
    RecordingDialUp ras(events);
    ras.fail = true;
    sock.SetRAS(&ras);
    sock.SetServer("127.0.0.1:1");
    EXPECT_THROW(sock.Open(), KelvaneError);
    EXPECT_EQ(events, (std::vector<std::string>{"Dial"}));
}

TEST_F(SocketTest, IPv6Loopback) {
    FakeServer srv(FakeServer::Family::IPv6);
    if (!srv.Listening()) GTEST_SKIP() << "no ::1 on this machine";
    srv.Send("+OK v6\r\n").Expect("QUIT").Close();
    Connect(srv);
    ASSERT_EQ(sock.RemoteAddress(), "::1");
    sock.ReadReply();
    EXPECT_EQ(sock.LastReply(), "+OK v6");
    sock.SendLine("QUIT");
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(SocketTest, ReplyAndBlockInOnePacket) {
    FakeServer srv;
    const std::string block = "From: a\r\n..dotted\r\n\r\nbody\r\n.\r\n";
    srv.Send("+OK 4 octets\r\n" + block).AwaitClientClose();
    Connect(srv);
    sock.ReadReply();
    EXPECT_EQ(sock.LastReply(), "+OK 4 octets");
    std::string data;
    std::vector<std::int64_t> transferred;
    sock.OnProgress = [&](TagSocket&, int perc, std::int64_t done) {
        EXPECT_EQ(perc, -1);
        transferred.push_back(done);
    };
    sock.ReadData(data);
    // Kept as sent: dot-stuffing and the terminator stay.
    EXPECT_EQ(data, block);
    ASSERT_FALSE(transferred.empty());
    EXPECT_EQ(transferred.front(), 0);
    sock.Close();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(SocketTest, LineThenBlockThenLineLoseNothing) {
    FakeServer srv;
    srv.Send("+OK\r\nline\r\n.\r\n").Expect("NEXT").Send("+OK second\r\n").AwaitClientClose();
    Connect(srv);
    sock.ReadReply();
    std::string data;
    sock.ReadData(data, 6);
    EXPECT_EQ(data, "line\r\n.\r\n");
    sock.SendLine("NEXT");
    sock.ReadReply();
    EXPECT_EQ(sock.LastReply(), "+OK second");
    sock.Close();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

// Where a block ends is judged by what this call received, not by what
// the stream held before.
TEST(BlockEndTest, EndsAtTheDotLineOfThisBlock) {
    using V = std::vector<std::string>;
    const struct {
        const char* name;
        std::string before;  // in the stream already
        V pieces;            // sent apart
        std::string block;
    } cases[] = {
        {"empty block", "", {".\r\n"}, ".\r\n"},
        {"empty block after earlier text", "earlier\r\n", {".\r\n"}, ".\r\n"},
        {"empty block in pieces", "", {".", "\r", "\n"}, ".\r\n"},
        {"terminator in pieces", "", {"a\r\n.", "\r\n"}, "a\r\n.\r\n"},
        {"dot-stuffed line first", "", {"..\r\n", "x\r\n.\r\n"}, "..\r\nx\r\n.\r\n"},
        {"earlier text does not end it", "x\r\n.", {"\r\n", "more\r\n.\r\n"}, "\r\nmore\r\n.\r\n"},
    };
    for (const auto& c : cases) {
        Session t;
        FakeServer srv;
        srv.Send("+OK\r\n");
        for (const auto& piece : c.pieces)
            srv.Silence(Ms(50)).Send(piece);
        srv.AwaitClientClose();
        t.Connect(srv);
        t.sock.ReadReply();
        std::string stream = c.before;
        EXPECT_NO_THROW(t.sock.ReadData(stream)) << c.name;
        EXPECT_EQ(stream, c.before + c.block) << c.name;
        t.sock.Close();
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

TEST_F(SocketTest, SlowBlockRestartsTimeOutWithEveryChunk) {
    const FastClock& clock = kFastClock;
    sock.SetTimeOut(60);
    FakeServer srv;
    // Five pauses of 15 s (fast time), 75 s in all: more than the limit.
    const std::string block = std::string(40, 'x') + "\r\n" + std::string(40, 'y') + "\r\n.\r\n";
    srv.Send("+OK\r\n").SendSlowly(block, block.size() / 5 + 1, Ms(150)).AwaitClientClose();
    Connect(srv);
    sock.ReadReply();
    std::string data;
    std::vector<int> percents;
    sock.OnProgress = [&](TagSocket&, int perc, std::int64_t) { percents.push_back(perc); };
    const auto start = clock.NowMs();
    ASSERT_NO_THROW(sock.ReadData(data, static_cast<std::int64_t>(block.size())));
    EXPECT_GT(clock.NowMs() - start, 60000);
    EXPECT_EQ(data, block);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LT(percents.back(), 100) << "the figure is taken before each chunk";
    sock.Close();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(SocketTest, ReplyLineLengthLimit) {
    const struct {
        std::size_t bytes;  // before the line feed, CR included
        bool fits;
    } cases[] = {{255, true}, {256, false}, {1000, false}};
    for (const auto& c : cases) {
        Session t;
        auto& s = t.sock;
        FakeServer srv;
        const std::string body = "+" + std::string(c.bytes - 2, 'x');
        srv.Send(body + "\r\n+OK after\r\n").AwaitClientClose();
        t.Connect(srv);
        if (c.fits) {
            s.ReadReply();
            EXPECT_EQ(s.LastReply(), body);
            s.ReadReply();
            EXPECT_EQ(s.LastReply(), "+OK after");
            s.Close();
        } else {
            try {
                s.ReadReply();
                ADD_FAILURE() << c.bytes << " bytes accepted";
            } catch (const SocketError& e) {
                EXPECT_STREQ(e.what(), "Reply line too long");
                EXPECT_EQ(e.Code(), kErrLineTooLong);
            }
            EXPECT_EQ(t.events, (std::vector<std::string>{"Open", "Error:Reply line too long",
                                                          "Closing", "Closed"}));
            EXPECT_FALSE(s.Connected());
        }
        EXPECT_TRUE(srv.Finish()) << c.bytes << ": " << srv.Report();
    }
}

TEST_F(SocketTest, MultiLineReplyReadsToTheFinalLine) {
    FakeServer srv;
    srv.Send("250-first\r\n250-250 not yet\r\n251 other code\r\n250 last\r\n220 next\r\n");
    srv.AwaitClientClose();
    Connect(srv);
    EXPECT_EQ(sock.ReadMultiReply(), 250);
    EXPECT_EQ(sock.LastReply(), "250 last");
    EXPECT_EQ(sock.ReadMultiReply(), 220);
    sock.Close();
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(SocketTest, CloseInTheMiddleOfAReplyLine) {
    FakeServer srv;
    srv.Send("+OK hal").Close();
    Connect(srv);
    std::string line = "old";
    EXPECT_EQ(sock.ReadReply(line), -1);
    EXPECT_EQ(line, "");
    EXPECT_EQ(sock.LastReply(), "");
    EXPECT_TRUE(srv.Finish()) << srv.Report();
    EXPECT_EQ(events, (std::vector<std::string>{"Open"})) << "no error, socket left as it is";
}

// Every wait ends after TimeOut seconds of silence, closes and reports the
// time-out to OnError before raising it.
TEST_F(SocketTest, TimeOuts) {
    enum Read { Reply, Data };
    const struct {
        const char* name;
        const char* sent;  // before the server falls silent
        bool serverCloses;
        Read read;
        // A block cut by a close cannot go on: it ends at once, not with a
        // time-out that would blame a slow server.
        bool endsAtOnce = false;
    } cases[] = {
        {"greeting never comes", "", false, Reply},
        {"server closes without a word", "", true, Reply},
        {"block stops half way", "+OK\r\nhalf a blo", false, Data},
        {"block cut by a close", "+OK\r\nhalf a blo", true, Data, true},
        {"dot line without its line feed", "+OK\r\n.\r", false, Data},
    };
    const FastClock& clock = kFastClock;
    for (const auto& c : cases) {
        Session t;
        auto& s = t.sock;
        ASSERT_EQ(s.TimeOut(), 60);
        FakeServer srv;
        if (*c.sent) srv.Send(c.sent);
        if (c.serverCloses) {
            srv.Close();
        } else {
            srv.AwaitClientClose();
        }
        t.Connect(srv);
        if (c.read == Data) s.ReadReply();
        const auto start = clock.NowMs();
        const std::string expected(c.endsAtOnce ? kTextClosedInBlock : kTextTimedOut);
        try {
            std::string data;
            if (c.read == Reply) s.ReadReply();
            if (c.read == Data) s.ReadData(data);
            ADD_FAILURE() << c.name << ": no time-out";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.what(), expected) << c.name;
            EXPECT_EQ(e.Code(), c.endsAtOnce ? kErrClosedInBlock : kErrTimedOut) << c.name;
        }
        const auto waited = clock.NowMs() - start;
        if (c.endsAtOnce) {
            EXPECT_LT(waited, 5000) << c.name;
        } else {
            EXPECT_GE(waited, 60000) << c.name;
            EXPECT_LT(waited, 80000) << c.name;
        }
        EXPECT_FALSE(s.Connected()) << c.name;
        EXPECT_EQ(t.events,
                  (std::vector<std::string>{"Open", "Error:" + expected, "Closing", "Closed"}))
            << c.name;
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

// A time-out without ResetState after it must not cut the next wait short.
TEST_F(SocketTest, WaitAfterATimeOutGetsTheFullLimit) {
    FakeServer silent;
    silent.AwaitClientClose();
    Connect(silent);
    EXPECT_THROW(sock.ReadReply(), TimeOutError);
    EXPECT_TRUE(silent.Finish()) << silent.Report();

    FakeServer late;  // a third of the limit in fast time
    late.Silence(Ms(200)).Send("+OK late\r\n").AwaitClientClose();
    sock.SetServer(late.Address());
    try {
        sock.Open();
        sock.Connect();
        sock.ReadReply();
    } catch (const TransportError& e) {
        ADD_FAILURE() << e.what();
    }
    EXPECT_EQ(sock.LastReply(), "+OK late");
    sock.Close();
    EXPECT_TRUE(late.Finish()) << late.Report();
}

TEST_F(SocketTest, PumpRunsThroughoutAWait) {
    FakeServer srv;
    srv.AwaitClientClose();
    Connect(srv);
    pumps = 0;
    EXPECT_THROW(sock.ReadReply(), TimeOutError);
    EXPECT_GE(pumps, 5);
    EXPECT_LT(maxGap, Ms(250));
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

// Cancel from inside the pump, at each kind of wait.
TEST_F(SocketTest, CancelAtEveryWait) {
    enum Stage { Lookup, Connecting, Sending, ReadingReply, ReadingData };
    const std::string canceled = "Operation has been canceled";
    const struct {
        const char* name;
        Stage stage;
    } cases[] = {
        {"host lookup", Lookup}, {"connect", Connecting}, {"send", Sending},
        {"reply", ReadingReply}, {"block", ReadingData},
    };
    for (const auto& c : cases) {
        Session t;
        auto& s = t.sock;
        bool armed = false;
        int pumpsWhileArmed = 0;
        // Lookup, connect and send finish within their first round on the
        // loopback; a read wait goes round a few times first.
        const int rounds = c.stage >= ReadingReply ? 3 : 1;
        t.onPump = [&] {
            if (c.stage == Lookup && !s.LookupPending()) return;
            if (armed && ++pumpsWhileArmed >= rounds && !s.Canceling()) s.Cancel();
        };
        FakeServer srv;
        if (c.stage == ReadingData) srv.Send("+OK\r\npart of a");
        if (c.stage != Lookup) srv.AwaitClientClose();
        s.SetServer(c.stage == Lookup ? "localhost:" + std::to_string(srv.Port()) : srv.Address());
        try {
            if (c.stage == Lookup) armed = true;
            s.Open();
            if (c.stage == Connecting) armed = true;
            s.Connect();
            if (c.stage == Sending) {
                armed = true;
                s.SendLine("NOOP");
            }
            if (c.stage == ReadingData) s.ReadReply();
            armed = true;
            std::string data;
            if (c.stage == ReadingData) {
                s.ReadData(data);
            } else {
                s.ReadReply();
            }
            ADD_FAILURE() << c.name << ": not canceled";
        } catch (const CancelError& e) {
            EXPECT_EQ(e.what(), canceled);
            EXPECT_EQ(e.Code(), kErrCanceled);
        }
        EXPECT_FALSE(s.Connected()) << c.name;
        EXPECT_FALSE(s.LookupPending()) << c.name;
        // During the lookup there is no socket yet to close.
        const std::vector<std::string> expected =
            c.stage == Lookup ? std::vector<std::string>{"Open", "Cancel", "Error:" + canceled}
                              : std::vector<std::string>{"Open", "Cancel", "Closing", "Closed",
                                                         "Error:" + canceled};
        EXPECT_EQ(t.events, expected) << c.name;
        if (c.stage == Sending) {
            EXPECT_EQ(srv.Received(), "") << "canceled before the line went out";
        }
        EXPECT_TRUE(srv.Finish()) << c.name << ": " << srv.Report();
    }
}

// ---------------------------------------------------------------- socket errors

TEST_F(SocketTest, ConnectionRefusedShowsTheSystemText) {
    sock.SetServer("127.0.0.1:" + std::to_string(ClosedPort()));
    sock.Open();
    try {
        sock.Connect();
        ADD_FAILURE() << "connected";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.Code(), ECONNREFUSED);
        EXPECT_STREQ(e.what(), "Connection refused");
    }
    const std::vector<std::string> expected{"Open", "Error:Connection refused"};
    EXPECT_EQ(events, expected);
    EXPECT_FALSE(sock.Connected()) << "the handle of a refused socket is closed";
    sock.Close();
    EXPECT_EQ(events, expected) << "no OnClosing or OnClosed: nothing was open";
    try {
        sock.SendLine("QUIT");
        ADD_FAILURE() << "sent on a refused socket";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.Code(), kErrNotConnected);
    }
}

TEST_F(SocketTest, UnknownHostShowsTheResolverText) {
    sock.SetServer("no-such-host.invalid:110");
    try {
        sock.Open();
        ADD_FAILURE() << "resolved";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.what(), ResolverErrorText(e.Code()));
        EXPECT_NE(e.Code(), 0);
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].rfind("Error:", 0), 0u);
    EXPECT_FALSE(sock.Connected());
}

TEST_F(SocketTest, ResetByPeerClosesTheConnection) {
    FakeServer srv;
    srv.Send("+OK\r\n").Expect("NOOP").Abort();
    Connect(srv);
    sock.ReadReply();
    sock.SendLine("NOOP");
    try {
        sock.ReadReply();
        ADD_FAILURE() << "no error";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.Code(), ECONNRESET);
        EXPECT_EQ(e.what(), SystemErrorText(ECONNRESET));
    }
    EXPECT_FALSE(sock.Connected());
    EXPECT_TRUE(srv.Finish()) << srv.Report();
}

TEST_F(SocketTest, CommandsNeedAConnection) {
    std::string data;
    EXPECT_THROW(sock.SendLine("NOOP"), SocketError);
    EXPECT_THROW(sock.ReadReply(), SocketError);
    EXPECT_THROW(sock.ReadData(data), SocketError);
    EXPECT_EQ(events, std::vector<std::string>(3, "Error:You have to connect to the server first"));
}

TEST(ErrorTextTest, UnknownCodesShowTheirNumber) {
    EXPECT_EQ(SystemErrorText(ECONNREFUSED), "Connection refused");
    EXPECT_EQ(SystemErrorText(987654), "Error #987654");
    EXPECT_EQ(TransportErrorText(kErrNotConnected), "You have to connect to the server first");
    EXPECT_EQ(TransportErrorText(kErrWinsockNotFound), "Winsock not found");
}

}  // namespace
}  // namespace kelvane
