// Secure connections against a real server: a private Dovecot with TLS whose
// certificate a test authority signed (support/dovecot.h), trusted through
// SSL_CERT_FILE when a case says so. Each case has a user of its own, so the
// server's log tells whether that user ever logged in.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "mail/mspop3.h"
#include "support/dovecot.h"
#include "support/fakeserver.h"
#include "support/testdir.h"

namespace kelvane {
namespace {

using test::Dovecot;

enum class Listener { Pop3s, Plain, Silent, RefusesStls };
enum class Pin { None, Right, Wrong };
constexpr auto kTls = ConnectionSecurity::Tls;
constexpr auto kStls = ConnectionSecurity::StartTls;

struct ConnCase {
    const char* name;
    Listener listener;
    ConnectionSecurity security;
    const char* host;  // the server's address or another name for it
    bool trusted;      // SSL_CERT_FILE names the test authority
    Pin pin;
    bool cancel;        // Cancel once the handshake has begun
    const char* error;  // start of the error text; "" when a check and a deletion work
};

const ConnCase kCases[] = {
    {"TlsCheckAndDelete", Listener::Pop3s, kTls, "127.0.0.1", true, Pin::None, false, ""},
    {"StlsCheckAndDelete", Listener::Plain, kStls, "127.0.0.1", true, Pin::None, false, ""},
    {"PinnedUnknownAuthority", Listener::Pop3s, kTls, "127.0.0.1", false, Pin::Right, false, ""},
    {"OtherHostName", Listener::Pop3s, kTls, "127.0.0.2", true, Pin::None, false,
     "The server's certificate is not valid for the host name 127.0.0.2"},
    {"UnknownAuthority", Listener::Plain, kStls, "127.0.0.1", false, Pin::None, false,
     "The server's certificate was issued by an unknown authority"},
    {"WrongPinTrustedAuthority", Listener::Pop3s, kTls, "127.0.0.1", true, Pin::Wrong, false,
     "The server's certificate does not match the pinned fingerprint"},
    {"TlsOnPlainPort", Listener::Plain, kTls, "127.0.0.1", true, Pin::None, false,
     "TLS handshake failed"},
    {"StlsRefused", Listener::RefusesStls, kStls, "127.0.0.1", true, Pin::None, false,
     "-ERR not now"},
    {"HandshakeNeverAnswered", Listener::Silent, kTls, "127.0.0.1", true, Pin::None, false,
     "Operation timed out"},
    {"CanceledDuringHandshake", Listener::Silent, kTls, "127.0.0.1", true, Pin::None, true,
     "Operation has been canceled"},
};

void PrintTo(const ConnCase& c, std::ostream* os) {
    *os << c.name;
}

std::string UserOf(const ConnCase& c) {
    return std::string("tls-") + c.name;
}

Dovecot& Server() {
    static Dovecot server = [] {
        std::vector<test::MailUser> users = {"tls-cli"};
        for (const ConnCase& c : kCases)
            users.emplace_back(UserOf(c));
        return Dovecot(users, test::Tls::On);
    }();
    return server;
}

// Accepts TCP connections (the kernel does) and never answers.
class SilentListener {
  public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() {
        if (client_ >= 0) close(client_);
        close(fd_);
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // True once the client has sent something: its handshake has begun.
    bool ClientSpoke() {
        if (client_ < 0) client_ = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        pollfd p{client_, POLLIN, 0};
        return client_ >= 0 && poll(&p, 1, 0) > 0;
    }
    // Everything the client sent.
    std::string Received() {
        ClientSpoke();
        std::string all;
        char buf[4096];
        ssize_t n = 0;
        while (client_ >= 0 && (n = recv(client_, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            all.append(buf, static_cast<std::size_t>(n));
        return all;
    }

  private:
    int fd_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
};

class TlsConnection : public ::testing::TestWithParam<ConnCase> {};

TEST_P(TlsConnection, ChecksDeletesOrRefusesBeforeTheLogin) {
    KELVANE_REQUIRE_DOVECOT();
    const ConnCase& c = GetParam();
    const std::string user = UserOf(c);
    const std::string password = Server().Password(user);
    if (c.trusted) {
        setenv("SSL_CERT_FILE", Server().CaFile().c_str(), 1);
    } else {
        unsetenv("SSL_CERT_FILE");
    }
    SilentListener silent;
    test::FakeServer refuser;
    refuser.Send("+OK ready\r\n").Expect("STLS").Send("-ERR not now\r\n").AwaitClientClose();

    TmsRemotePOP pop;
    switch (c.listener) {
        case Listener::Pop3s:
            pop.SetServer(c.host + (":" + std::to_string(Server().TlsPort())));
            break;
        case Listener::Plain:
            pop.SetServer(c.host + (":" + std::to_string(Server().Port())));
            break;
        case Listener::Silent:
            pop.SetServer(silent.Address());
            break;
        case Listener::RefusesStls:
            pop.SetServer(refuser.Address());
            break;
    }
    pop.SetUserName(user);
    pop.SetPassword(password);
    pop.SetSecurity(c.security);
    pop.SetTimeOut(1);
    std::string fingerprint = Server().Fingerprint();  // upper case, with colons
    if (c.pin == Pin::Wrong) fingerprint[0] = fingerprint[0] == 'A' ? 'B' : 'A';
    if (c.pin != Pin::None) pop.SetFingerprint(fingerprint);
    pop.SetEventPump([&] {
        if (c.cancel && pop.Connected() && silent.ClientSpoke()) pop.Cancel();
    });
    Server().AddMessage(user, "Subject: one\n\nfirst\n");
    // Headers of some 40 KB: the block spans several TLS records.
    std::string padding;
    for (int i = 0; i < 600; ++i)
        padding += "X-Pad-" + std::to_string(i) + ": " + std::string(60, 'p') + "\n";
    Server().AddMessage(user, "Subject: two\n" + padding + "\nsecond\n");

    if (*c.error == '\0') {
        pop.UpdateInfo();
        ASSERT_EQ(pop.Info().Count(), 2u);
        EXPECT_EQ(pop.Info().Item(1).Headers.Count(), 601u);
        pop.MarkForDelete(0);
        pop.ProcessMarks();
        EXPECT_EQ(Server().Messages(user).size(), 1u);
        const std::string log = Server().Log();
        const auto login = log.find("Login: user=<" + user + ">");
        ASSERT_NE(login, std::string::npos) << log;
        EXPECT_NE(log.substr(login, log.find('\n', login) - login).find(", TLS"),
                  std::string::npos);
        return;
    }
    try {
        pop.UpdateInfo();
        ADD_FAILURE() << "connected";
    } catch (const KelvaneError& e) {
        EXPECT_EQ(std::string(e.what()).substr(0, std::strlen(c.error)), c.error) << e.what();
    }
    EXPECT_FALSE(pop.Connected());
    EXPECT_EQ(Server().Log().find("user=<" + user + ">"), std::string::npos) << Server().Log();
    EXPECT_EQ(silent.Received().find(password), std::string::npos);
    if (c.listener == Listener::RefusesStls) {
        EXPECT_TRUE(refuser.Finish()) << refuser.Report();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TlsConnection, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The way a user pins a home server's certificate: probe (no password
// sent), pin what it shows, check.
TEST(TlsCli, ProbePinCheck) {
    KELVANE_REQUIRE_DOVECOT();
    unsetenv("SSL_CERT_FILE");  // the test authority is unknown
    test::TempDir home, prog;
    const auto cli = [&](std::vector<std::string> args, std::string input = {}) {
        args.insert(args.begin(), {"--dir", prog.path()});
        return test::RunCli(args, home.path(), input);
    };
    const std::vector<std::string> slot = {
        "mailbox", "set",    "1", "--server", "127.0.0.1:" + std::to_string(Server().TlsPort()),
        "--user",  "tls-cli"};
    auto set = slot;
    set.insert(set.end(), {"--security", "tls", "--password-stdin"});
    auto r = cli(set, Server().Password("tls-cli") + "\n");
    ASSERT_EQ(r.status, 0) << r.err;

    r = cli({"mailbox", "probe", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("SHA-256 fingerprint: " + Server().Fingerprint() + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Trust store: The server's certificate was issued by an unknown"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Server().Log().find("user=<tls-cli>"), std::string::npos);

    r = cli({"check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown authority"), std::string::npos) << r.err;

    auto pin = slot;  // the security choice stays as it was
    pin.insert(pin.end(), {"--fingerprint", Server().Fingerprint()});
    ASSERT_EQ(cli(pin).status, 0);
    EXPECT_EQ(cli({"mailbox", "list"}).out, "1\t127.0.0.1:" + std::to_string(Server().TlsPort()) +
                                                "\ttls-cli\ttls\tfile\tdefault\n");
    r = cli({"check"});
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace kelvane
