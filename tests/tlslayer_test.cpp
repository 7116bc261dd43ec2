// Secure connections against a TLS peer in this process, which can do what
// no well-behaved server does: renegotiate, drop the connection without the
// closing alert. Its certificate is made here and pinned by the client.

#include "mail/tlslayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mail/mspop3.h"
#include "support/pop3script.h"

namespace kelvane {
namespace {

// A self-signed certificate and its key.
class Identity {
  public:
    explicit Identity(const char* name) : key_(EVP_EC_gen("P-256")), cert_(X509_new()) {
        ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert_), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
        X509_set_pubkey(cert_, key_);
        X509_NAME* subject = X509_get_subject_name(cert_);
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
        X509_set_issuer_name(cert_, subject);
        X509_sign(cert_, key_, EVP_sha256());
    }
    ~Identity() {
        X509_free(cert_);
        EVP_PKEY_free(key_);
    }
    Identity(const Identity&) = delete;
    Identity& operator=(const Identity&) = delete;

    void Use(SSL* ssl) const {
        SSL_use_certificate(ssl, cert_);
        SSL_use_PrivateKey(ssl, key_);
    }
    std::string Fingerprint() const {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        X509_digest(cert_, EVP_sha256(), digest, &length);
        static const char kHex[] = "0123456789abcdef";
        std::string hex;
        for (unsigned int i = 0; i < length; ++i) {
            hex += kHex[digest[i] >> 4];
            hex += kHex[digest[i] & 15];
        }
        return hex;
    }

  private:
    EVP_PKEY* key_;
    X509* cert_;
};

// Accepts one connection on a thread of its own, completes the handshake as
// "pinned" and runs the script; the script's reads give up once the client
// has gone.
class TlsPeer {
  public:
    using Script = std::function<void(TlsPeer&)>;

    TlsPeer(int maxVersion, Script script) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_max_proto_version(ctx_, maxVersion);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        port_ = ntohs(a.sin_port);
        // A client that never connects must not hold the test up for ever.
        timeval limit{5, 0};
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        thread_ = std::thread([this, script = std::move(script)] {
            // A client that has gone must not kill the test with SIGPIPE.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            fd_ = ::accept(listener_, nullptr, nullptr);
            if (fd_ < 0) return;
            timeval limit{5, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ssl_ = SSL_new(ctx_);
            pinned.Use(ssl_);
            SSL_set_fd(ssl_, fd_);
            if (SSL_accept(ssl_) == 1) script(*this);
            SSL_free(ssl_);
            ::close(fd_);
        });
    }
    ~TlsPeer() {
        thread_.join();
        ::close(listener_);
        SSL_CTX_free(ctx_);
    }
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // For the script.
    void Send(const std::string& text) {
        SSL_write(ssl_, text.data(), static_cast<int>(text.size()));
    }
    std::string Line() {
        std::string line;
        char c = 0;
        while (SSL_read(ssl_, &c, 1) == 1 && c != '\n')
            if (c != '\r') line += c;
        lines.push_back(line);
        return line;
    }
    SSL* Ssl() { return ssl_; }
    int Socket() const { return fd_; }

    Identity pinned{"pinned"};
    Identity other{"other"};
    std::vector<std::string> lines;  // every line the script read

  private:
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    int listener_ = -1;
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

void Login(TlsPeer& peer, const std::string& stat) {
    peer.Send("+OK ready\r\n");
    peer.Line();  // CAPA
    peer.Send("-ERR\r\n");
    peer.Line();
    peer.Send("+OK\r\n");
    peer.Line();
    peer.Send("+OK\r\n");
    peer.Line();
    peer.Send(stat + "\r\n");
}

void Client(TmsRemotePOP& pop, const TlsPeer& peer) {
    pop.SetClock(&test::kFastClock);
    pop.SetServer(peer.Address());
    pop.SetUserName("bob");
    pop.SetPassword("pw");
    pop.SetSecurity(ConnectionSecurity::Tls);
    pop.SetFingerprint(peer.pinned.Fingerprint());
}

// A second handshake could bring in a certificate that was never held
// against the pin: the session must end instead of going on under it.
TEST(TlsPeerTest, PinnedSessionRefusesAHandshakeWithAnotherCertificate) {
    TlsPeer peer(TLS1_2_VERSION, [](TlsPeer& p) {
        Login(p, "+OK 1 10");
        p.Line();  // LIST 1
        p.other.Use(p.Ssl());
        SSL_renegotiate(p.Ssl());
        p.Send("+OK 1 10\r\n");
        p.Line();  // TOP 1 1
        p.Send("+OK\r\nSubject: under another certificate\r\n\r\n.\r\n");
        p.Line();  // QUIT
        p.Send("+OK\r\n");
    });
    TmsRemotePOP pop;
    Client(pop, peer);
    EXPECT_THROW(pop.UpdateInfo(), SocketError);
    EXPECT_EQ(pop.Info().Count(), 0u);
    EXPECT_FALSE(pop.Connected());
}

}  // namespace
}  // namespace kelvane
