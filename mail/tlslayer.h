#pragma once

// TLS over the transport's non-blocking socket, with OpenSSL. The layer
// never waits: each call does what it can at once and says whether it needs
// the socket readable or writable first, so the transport keeps its own
// waits (event pump, time-out, Cancel) for the handshake as for every read.
// OpenSSL's types stay out of this header.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvane {

// How a mailbox connects: as stored, "0", "1" and "2".
enum class ConnectionSecurity { None = 0, Tls = 1, StartTls = 2 };

// How the server's certificate is judged.
enum class CertificateCheck {
    TrustStore,  // the system's trust store and the host name
    Pinned,      // only the certificate with the pinned fingerprint
    Probe,       // any certificate, so it can be shown; never for a login
};

struct CertificateInfo {
    std::string subject;
    std::string issuer;
    std::string notBefore;
    std::string notAfter;
    std::string fingerprint;  // SHA-256 of the certificate, 64 lower-case hex digits
    // Why the trust store or the host name check refuses it; empty when
    // both accept it.
    std::string trustProblem;
};

// A fingerprint as the user may write it (colons and case ignored): 64
// lower-case hex digits, nothing when it is not a SHA-256 fingerprint.
std::optional<std::string> NormalizeFingerprint(std::string_view text);
// "AB:CD:..." for display.
std::string FormatFingerprint(std::string_view hex);

inline constexpr std::string_view kTextBadPin =
    "The pinned certificate fingerprint is not 64 hexadecimal digits";
inline constexpr std::string_view kTextPinMismatch =
    "The server's certificate does not match the pinned fingerprint";

// A TLS failure. systemError is the errno value when the socket itself
// failed, 0 when TLS did (the text then says what).
class TlsFailure : public std::runtime_error {
  public:
    TlsFailure(const std::string& text, int systemError = 0)
        : std::runtime_error(text), systemError_(systemError) {}
    int SystemError() const { return systemError_; }

  private:
    int systemError_;
};

class TlsLayer {
  public:
    enum class Want { Nothing, Read, Write };

    // For the connected socket fd (not owned) and the host name or address
    // the user gave. pin is the fingerprint text of a Pinned check.
    TlsLayer(int fd, const std::string& host, CertificateCheck check, const std::string& pin);
    ~TlsLayer();
    TlsLayer(const TlsLayer&) = delete;
    TlsLayer& operator=(const TlsLayer&) = delete;

    // One step of the handshake: Nothing when it is complete and the
    // certificate accepted, else what the socket must be for the next step.
    Want Handshake();
    // Bytes read (peek leaves them for the next read), 0 when the peer
    // closed, -1 when nothing can be read now (want says what to wait for).
    long Read(char* buffer, std::size_t size, bool peek, Want& want);
    // Bytes written, or -1 when nothing can be written now.
    long Write(const char* data, std::size_t size, Want& want);
    // Decrypted bytes are waiting: no need to look at the socket.
    bool Pending() const;
    // Sends the closing alert when the session was up; never waits.
    void Shutdown();

    // Set once the handshake is complete.
    const CertificateInfo& Peer() const { return peer_; }

  private:
    struct State;
    [[noreturn]] void Fail(int result, const char* during);
    // A read or write that did not complete: 0 for a closed session, -1
    // with want set when the socket must be waited on, else Fail.
    long Unfinished(int result, Want& want, const char* during);
    void CheckPeer();

    std::unique_ptr<State> state_;
    CertificateCheck check_;
    std::string host_;
    std::string pin_;
    CertificateInfo peer_;
};

}  // namespace kelvane
