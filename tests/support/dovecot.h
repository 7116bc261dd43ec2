#pragma once

// A private Dovecot POP3 server for end-to-end tests of the mail client. It
// runs from a fresh temporary folder on a free loopback port, with its own
// users (passwd-file) and one Maildir each, and knows nothing of the system
// service. Starting takes well under a second but stopping takes two or
// three, so a test executable shares one server and gives each test its own
// user:
//
//   test::Dovecot& Server() {
//       static test::Dovecot server({"check", "delete", {"carol", "s3cret"}});
//       return server;
//   }
//   TEST_F(...) {
//       KELVANE_REQUIRE_DOVECOT();
//       Server().AddMessage("check", "Subject: hi\n\nbody\n");
//       pop.SetServer(Server().Address());
//       ...
//
// Mail processes run as nobody when the tests run as root, as the current
// user otherwise.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/testdir.h"

namespace kelvane::test {

struct MailUser {
    // A user whose password is "pw-" followed by the name.
    MailUser(const char* userName) : MailUser(std::string(userName)) {}
    MailUser(std::string userName) : name(std::move(userName)), password("pw-" + name) {}
    MailUser(std::string userName, std::string pass)
        : name(std::move(userName)), password(std::move(pass)) {}

    std::string name;
    std::string password;
};

// With Tls::On the server has ssl = yes (STLS on the plain port) and a
// pop3s listener. Its certificate, for 127.0.0.1 and localhost only, comes
// from a test authority made with the openssl command in the test folder;
// trust it with SSL_CERT_FILE=CaFile(). The server also listens on
// 127.0.0.2, a name its certificate does not carry.
enum class Tls { Off, On };

class Dovecot {
  public:
    // The dovecot executable, empty when it is not installed.
    static std::string Binary();
    // True when a missing server must fail the tests instead of skipping
    // them: CI is set (and not "false" or "0").
    static bool Required();

    // Creates the users and starts the server; throws std::runtime_error
    // (with the server's log) when it does not greet within a few seconds.
    explicit Dovecot(std::vector<MailUser> users, Tls tls = Tls::Off);
    // SIGTERM, then waits for the server to exit.
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The pop3s listener (Tls::On only).
    std::uint16_t TlsPort() const { return tlsPort_; }
    std::string CaFile() const { return dir_.file("ca.pem"); }
    // The SHA-256 fingerprint of the server certificate, "AB:CD:...".
    const std::string& Fingerprint() const { return fingerprint_; }
    const std::string& Password(const std::string& user) const;

    // Delivers text to the user's Maildir/new exactly as given (LF line ends
    // are served as CR LF). Messages are listed in the order delivered.
    void AddMessage(const std::string& user, std::string_view text);
    // The messages still in the user's Maildir (new/ and cur/), in the order
    // delivered.
    std::vector<std::string> Messages(const std::string& user) const;
    // The Message-ID value of each of Messages(user), "" where there is none.
    std::vector<std::string> MessageIds(const std::string& user) const;

    // The server's log, for failure messages.
    std::string Log() const;

  private:
    bool Start(std::string& why);
    void Stop();
    void WriteConfig() const;
    void MakeCertificates();
    std::string Maildir(const std::string& user) const;

    TempDir dir_;
    std::map<std::string, std::string> passwords_;
    uid_t mailUid_ = 0;
    gid_t mailGid_ = 0;
    std::string mailUser_, mailGroup_;
    std::uint16_t port_ = 0;
    std::uint16_t tlsPort_ = 0;
    bool tls_ = false;
    std::string fingerprint_;
    pid_t pid_ = -1;
    unsigned delivered_ = 0;
};

// A bare POP3 session for changing or inspecting a mailbox behind the
// client's back. Throws std::runtime_error on a refused command.
class RawPop {
  public:
    RawPop(std::uint16_t port, const std::string& user, const std::string& password);
    ~RawPop();
    RawPop(const RawPop&) = delete;
    RawPop& operator=(const RawPop&) = delete;

    // One command, its one-line reply (without CR LF).
    std::string Command(const std::string& line);
    // QUIT, which makes the session's DELE commands take effect.
    void Quit();

  private:
    std::string ReadLine();

    int fd_ = -1;
    std::string buffer_;
};

}  // namespace kelvane::test

// In a test body or SetUp: skips the test when dovecot is not installed, or
// fails it when Dovecot::Required().
#define KELVANE_REQUIRE_DOVECOT()                                                         \
    do {                                                                                  \
        if (::kelvane::test::Dovecot::Binary().empty()) {                                 \
            if (::kelvane::test::Dovecot::Required())                                     \
                FAIL() << "dovecot is not installed (package dovecot-pop3d); CI is set, " \
                          "so this test fails instead of skipping";                       \
            GTEST_SKIP() << "dovecot is not installed, so skipped (scripts/setup.sh "     \
                            "installs dovecot-pop3d)";                                    \
        }                                                                                 \
    } while (0)
