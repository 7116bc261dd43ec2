#pragma once

// The TCP transport under the mail clients: host and port resolution,
// connecting, sending one command line, reading one reply line or a
// dot-terminated block, closing. Every wait has a time-out and can be
// cancelled. Everything runs on the caller's thread: each wait keeps calling
// the owner's event pump, so a Cancel button handled inside the pump can end
// it, and sleeps through the owner's waiter, which a window makes wake on its
// own events too.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "mail/timecounter.h"
#include "mail/tlslayer.h"

namespace kelvane {

// Error ids of the transport.
constexpr int kErrTimedOut = 57000;
constexpr int kErrCanceled = 57001;
constexpr int kErrServerRequired = 57002;
constexpr int kErrWinsockVersion = 57003;
constexpr int kErrResolveHost = 57004;
constexpr int kErrServiceRequired = 57005;
constexpr int kErrNotConnected = 57008;
constexpr int kErrFunctionNotFound = 57010;
constexpr int kErrWinsockNotLoaded = 57011;
constexpr int kErrWinsockNotFound = 57012;
constexpr int kErrLineTooLong = 57013;
constexpr int kErrCommandBreak = 57014;
constexpr int kErrReplyTooLarge = 57015;
constexpr int kErrTls = 57016;  // the TLS handshake or the certificate failed
constexpr int kErrClosedInBlock = 57017;

inline constexpr std::string_view kTextTimedOut = "Operation timed out";
inline constexpr std::string_view kTextCanceled = "Operation has been canceled";
inline constexpr std::string_view kTextServerRequired = "Server property is required";
inline constexpr std::string_view kTextWinsockVersion = "Invalid Winsock version";
inline constexpr std::string_view kTextResolveHost = "Error resolving remote host";
inline constexpr std::string_view kTextServiceRequired = "Service name is required";
inline constexpr std::string_view kTextNotConnected = "You have to connect to the server first";
// The sockets-library texts belong to the Windows loader; POSIX sockets are
// always there, so nothing here raises them.
inline constexpr std::string_view kTextFunctionNotFound = "Function %s not found";
inline constexpr std::string_view kTextWinsockNotLoaded = "Winsock is not loaded";
inline constexpr std::string_view kTextWinsockNotFound = "Winsock not found";
inline constexpr std::string_view kTextLineTooLong = "Reply line too long";
inline constexpr std::string_view kTextCommandBreak =
    "A command must not contain a line break or a NUL character";
inline constexpr std::string_view kTextReplyTooLarge = "Reply too large";
inline constexpr std::string_view kTextClosedInBlock =
    "The server closed the connection before the end of the reply";
// A reply that is an empty line: not a refusal, and no text to show.
inline constexpr std::string_view kTextEmptyReply = "The server sent an empty reply";

// The text for a transport error id, empty for an unknown id.
std::string_view TransportErrorText(int id);
// The system's text for an errno value, "Error #" and the code when it has none.
std::string SystemErrorText(int code);
// The resolver's text for a getaddrinfo code.
std::string ResolverErrorText(int code);

// A failure of the connection. Code() is the transport error id (57000 and
// up), the errno value, or for a failed host lookup the resolver's code.
class TransportError : public KelvaneError {
  public:
    TransportError(const std::string& message, int code) : KelvaneError(message), code_(code) {}
    int Code() const { return code_; }

  private:
    int code_;
};

class SocketError : public TransportError {
  public:
    using TransportError::TransportError;
};

class TimeOutError : public TransportError {
  public:
    TimeOutError() : TransportError(std::string(kTextTimedOut), kErrTimedOut) {}
};

class CancelError : public TransportError {
  public:
    CancelError() : TransportError(std::string(kTextCanceled), kErrCanceled) {}
};

// The dial-up connection a socket brings up before opening and hangs up
// after closing.
class DialUpLink {
  public:
    virtual ~DialUpLink() = default;
    virtual void Connect() = 0;  // dial when needed; throws on failure
    virtual void HangUp() = 0;   // hang up only a connection it dialled itself
};

// How a wait sleeps on the socket. Without one a wait polls the socket in
// slices of TagSocket::kPumpIntervalMs and calls the pump between them; a
// window installs one that also wakes on its own events, so it answers them
// at once and does not wake while nothing happens.
class SocketWaiter {
  public:
    virtual ~SocketWaiter() = default;
    // Sleeps until fd shows one of events (poll's flags) or timeoutMs has
    // passed; fd -1 only sleeps. Returns the events seen as poll's revents,
    // 0 after the time-out or an Interrupt.
    virtual short Wait(int fd, short events, int timeoutMs) = 0;
    // Ends a running Wait at once, before its socket is closed under it.
    virtual void Interrupt() = 0;
};

// Percent of a transfer: done * 100 / expected rounded half to even, -1
// when the expected size is below 1.
int TransferPercent(std::int64_t done, std::int64_t expected);

class TagSocket {
  public:
    using Notify = std::function<void(TagSocket& sender)>;
    using ErrorNotify = std::function<void(TagSocket& sender, const std::string& message)>;
    using ProgressNotify =
        std::function<void(TagSocket& sender, int perc, std::int64_t transferred)>;

    static constexpr std::size_t kMaxReplyLine = 255;  // bytes before the line feed
    static constexpr std::size_t kDataChunk = 16384;
    static constexpr std::size_t kMaxBlock = std::size_t{256} << 20;
    static constexpr std::size_t kMaxExchange = 16 * kDataChunk;  // bytes one Exchange takes
    // The longest a wait sleeps on the socket before the pump runs again:
    // short enough that a window answers its events within a frame.
    static constexpr int kPumpIntervalMs = 8;

    TagSocket(std::string serviceName, int defaultPort);
    virtual ~TagSocket();
    TagSocket(const TagSocket&) = delete;
    TagSocket& operator=(const TagSocket&) = delete;

    // Clears the event, error and cancel flags, drops a pending lookup and
    // lowers the time counter's expired flag.
    virtual void ResetState();
    // The first three bytes as a number, -1 when they are not one.
    virtual int ReplyCode(std::string_view line) const;
    // Dials, fires OnOpen, resolves host and port and creates the socket.
    virtual void Open();
    virtual void Close();
    // Ends the running wait with CancelError and closes the connection.
    virtual void Cancel();
    virtual void Login() {}
    virtual void Logout() {}

    // Connects the socket Open created; on failure the handle is closed.
    void Connect();
    // CR LF is appended. A text holding CR, LF or NUL is refused before
    // anything is sent: it would reach the server as more than one command.
    void SendLine(std::string_view text);
    // One reply line without its line end; the result is ReplyCode of it, or
    // -1 when the server closed before a line feed came (line then empty).
    // Nothing after the line feed is taken from the socket.
    int ReadReply(std::string& line);
    int ReadReply();
    // Continuation lines "nnn-" up to "nnn "; the result is the first code.
    int ReadMultiReply();
    // Appends a block up to and including its terminating "." line, exactly
    // as received (dot-stuffing kept). expectedSize < 1 when unknown. A
    // block of more than limit bytes closes the connection and raises
    // "Reply too large", so a hostile server cannot take all memory. Only
    // the first keep bytes are appended, the rest is read and dropped. A
    // peer that closes before the "." line ends it at once with "The server
    // closed the connection before the end of the reply": nothing more can
    // come. Returns the bytes of the whole block.
    std::size_t ReadData(std::string& stream, std::int64_t expectedSize = -1,
                         std::size_t limit = kMaxBlock, std::size_t keep = SIZE_MAX);

    // For commands sent ahead of their replies: writes from the front of out
    // whenever the socket takes bytes, and returns as soon as bytes have
    // arrived, appended to in. Sending and receiving are serviced from the
    // same wait, so a peer that stops reading until its replies are taken
    // cannot stall us. Returns the bytes received, 0 when the peer closed.
    // Time-out (of silence), Cancel and the event pump as every wait.
    std::size_t Exchange(std::string& out, std::string& in);

    // The TLS handshake on the connected socket, judged by the security
    // settings below; Connect runs it itself for ConnectionSecurity::Tls.
    // A failure closes the connection before anything else is sent.
    void StartTls();
    bool Secure() const { return tls_ != nullptr; }
    // The server's certificate; null without a completed handshake.
    const CertificateInfo* PeerCertificate() const;

    ConnectionSecurity Security() const { return security_; }
    void SetSecurity(ConnectionSecurity security) { security_ = security; }
    // A pinned SHA-256 fingerprint: when set, that certificate alone is
    // accepted, in place of the trust store.
    const std::string& Fingerprint() const { return fingerprint_; }
    void SetFingerprint(std::string fingerprint) { fingerprint_ = std::move(fingerprint); }
    // Accepts any certificate so that it can be shown; only for a probe
    // that sends no credentials.
    void SetProbing(bool probing) { probing_ = probing; }
    // The service and default port for TLS from the first byte.
    void SetTlsService(std::string name, int defaultPort) {
        tlsServiceName_ = std::move(name);
        tlsDefaultPort_ = defaultPort;
    }

    bool Connected() const { return fd_ >= 0; }
    const std::string& LastReply() const { return lastReply_; }
    const std::string& RemoteAddress() const { return remoteText_; }
    std::uint16_t Port() const { return port_; }
    const std::string& LocalHost() const { return localHost_; }
    const std::string& ServiceName() const { return serviceName_; }
    bool Canceling() const { return cancel_; }
    bool LookupPending() const { return lookup_ != nullptr; }

    DialUpLink* RAS() const { return ras_; }
    void SetRAS(DialUpLink* ras) { ras_ = ras; }  // not owned; the owner clears it
    // Called at least every kPumpIntervalMs while a wait runs.
    void SetEventPump(std::function<void()> pump) { pump_ = std::move(pump); }
    void SetClock(const Clock* clock) { counter_.SetClock(clock); }
    // With a waiter a wait sleeps until the socket, the waiter or the next
    // second of the time-out wakes it, in place of the pump interval.
    void SetWaiter(std::unique_ptr<SocketWaiter> waiter) { waiter_ = std::move(waiter); }
    SocketWaiter* Waiter() const { return waiter_.get(); }

  protected:
    const std::string& Server() const { return server_; }
    void SetServer(std::string server) { server_ = std::move(server); }
    int DefaultPort() const { return defaultPort_; }
    void SetDefaultPort(int port) { defaultPort_ = port; }
    int TimeOut() const { return counter_.Limit(); }
    void SetTimeOut(int seconds) { counter_.SetLimit(seconds); }
    void SetServiceName(std::string name) { serviceName_ = std::move(name); }

    Notify OnOpen;
    Notify OnClosing;
    Notify OnClosed;
    Notify OnCancel;
    ErrorNotify OnError;
    ProgressNotify OnProgress;

    // Each fires OnError with the text first.
    [[noreturn]] void RaiseError(int code, const std::string& text);
    [[noreturn]] void RaiseErrorId(int id);
    // Code 0 returns quietly; a reset connection is closed.
    void RaiseSystemError(int code);
    [[noreturn]] void RaiseTimeOut();
    [[noreturn]] void RaiseCancel();
    // Runs the owner's event pump once, so a Cancel pressed meanwhile is seen.
    void PumpEvents();
    // Fires OnError, closes, raises: for failures after which the bytes
    // still coming would be misread.
    [[noreturn]] void RaiseAndClose(int id, const std::string& text);
    void SetLastReply(std::string line) { lastReply_ = std::move(line); }

  private:
    void AwaitReadable();
    // One receive or send that never waits, through TLS when it is on:
    // bytes, 0 when the peer closed, -1 with errno EAGAIN when nothing
    // could move now. Other errors raise.
    ssize_t Receive(char* buffer, std::size_t size, bool peek);
    ssize_t Transmit(const char* data, std::size_t size);
    [[noreturn]] void RaiseTlsFailure(const TlsFailure& failure);
    struct Lookup;
    enum class Domain { System, Resolver };

    void Fire(const Notify& event);
    void WaitUntil(const std::function<bool()>& done, bool watchError,
                   const std::function<void()>& idle);
    void IdleOnSocket(short events);
    // One sleep on fd (or none, for -1) through the waiter or ::poll;
    // returns the events seen.
    short Sleep(int fd, short events);
    int SliceMs() const;
    void WatchReadable();
    void WatchConnect();
    void SetErrorFlag(int code, Domain domain);
    void RaiseErrorFlag();
    void ResolveHost(const std::string& host);
    void ResolvePort(std::string_view portText, bool hasPort);
    void CreateSocket();
    void CloseHandle();

    std::string serviceName_;
    std::string server_;
    int defaultPort_;
    DialUpLink* ras_ = nullptr;
    std::function<void()> pump_;
    std::unique_ptr<SocketWaiter> waiter_;
    TTimeCounter counter_;

    int fd_ = -1;
    sockaddr_storage remote_{};
    socklen_t remoteLen_ = 0;
    std::string remoteText_;
    std::uint16_t port_ = 0;
    std::string localHost_;
    std::string lastReply_;
    std::shared_ptr<Lookup> lookup_;

    bool readable_ = false;
    bool writable_ = false;
    bool connectedEvent_ = false;
    bool closed_ = false;
    bool error_ = false;
    int errorCode_ = 0;
    Domain errorDomain_ = Domain::System;
    bool cancel_ = false;

    ConnectionSecurity security_ = ConnectionSecurity::None;
    std::string fingerprint_;
    bool probing_ = false;
    std::string tlsServiceName_;
    int tlsDefaultPort_ = 0;
    std::unique_ptr<TlsLayer> tls_;
    short tlsWants_ = 0;  // what TLS waits for after a call that could not move
};

// The base of the mail clients: publishes the connection settings and events.
class TmsMailBase : public TagSocket {
  public:
    explicit TmsMailBase(std::string serviceName = "pop3", int defaultPort = 110)
        : TagSocket(std::move(serviceName), defaultPort) {}

    using TagSocket::DefaultPort;
    using TagSocket::Server;
    using TagSocket::SetDefaultPort;
    using TagSocket::SetServer;
    using TagSocket::SetTimeOut;
    using TagSocket::TimeOut;

    using TagSocket::OnCancel;
    using TagSocket::OnClosed;
    using TagSocket::OnClosing;
    using TagSocket::OnError;
    using TagSocket::OnOpen;
    using TagSocket::OnProgress;
};

}  // namespace kelvane
