#include "mail/agsocket.h"
#include "base/text.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace kelvane {

// ---------------------------------------------------------------- texts

std::string_view TransportErrorText(int id) {
    switch (id) {
        case kErrTimedOut:
            return kTextTimedOut;
        case kErrCanceled:
            return kTextCanceled;
        case kErrServerRequired:
            return kTextServerRequired;
        case kErrWinsockVersion:
            return kTextWinsockVersion;
        case kErrResolveHost:
            return kTextResolveHost;
        case kErrServiceRequired:
            return kTextServiceRequired;
        case kErrNotConnected:
            return kTextNotConnected;
        case kErrFunctionNotFound:
            return kTextFunctionNotFound;
        case kErrWinsockNotLoaded:
            return kTextWinsockNotLoaded;
        case kErrWinsockNotFound:
            return kTextWinsockNotFound;
        case kErrLineTooLong:
            return kTextLineTooLong;
        case kErrCommandBreak:
            return kTextCommandBreak;
        case kErrReplyTooLarge:
            return kTextReplyTooLarge;
        case kErrClosedInBlock:
            return kTextClosedInBlock;
        default:
            return {};
    }
}

std::string SystemErrorText(int code) {
    const char* text = nullptr;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    text = strerrordesc_np(code);  // null for an unknown code, unlike strerror
#else
    text = std::strerror(code);
#endif
    if (text == nullptr || *text == '\0') return "Error #" + std::to_string(code);
    return text;
}

std::string ResolverErrorText(int code) {
    const char* text = gai_strerror(code);
    if (text == nullptr || *text == '\0') return "Error #" + std::to_string(code);
    return text;
}

int TransferPercent(std::int64_t done, std::int64_t expected) {
    if (expected < 1) return -1;
    const std::int64_t scaled = done * 100;
    std::int64_t q = scaled / expected;
    const std::int64_t twice = (scaled % expected) * 2;
    if (twice > expected || (twice == expected && (q & 1) != 0)) ++q;
    return static_cast<int>(q);
}

namespace {

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

bool ParseInt(std::string_view text, long long& value) {
    std::int32_t v = 0;
    if (!ParseDecimalInt32(text, v)) return false;
    value = v;
    return true;
}

struct ServerParts {
    std::string host;
    std::string_view port;
    bool hasPort = false;
};

// "host", "host:port", "[v6]", "[v6]:port"; a bare IPv6 literal (two or
// more colons, no brackets) is all host.
ServerParts SplitServer(std::string_view server) {
    ServerParts parts;
    if (!server.empty() && server.front() == '[') {
        const auto close = server.find(']');
        if (close != std::string_view::npos) {
            parts.host = std::string(server.substr(1, close - 1));
            const auto rest = server.substr(close + 1);
            if (!rest.empty() && rest.front() == ':') {
                parts.port = rest.substr(1);
                parts.hasPort = true;
            }
            return parts;
        }
    }
    const auto colon = server.find(':');
    if (colon != std::string_view::npos && server.find(':', colon + 1) != std::string_view::npos) {
        parts.host = std::string(server);
        return parts;
    }
    parts.host = std::string(server.substr(0, colon));
    if (colon != std::string_view::npos) {
        parts.port = server.substr(colon + 1);
        parts.hasPort = true;
    }
    return parts;
}

}  // namespace

// ---------------------------------------------------------------- host lookup

// Shared between the socket and the resolver thread, so an abandoned lookup
// can finish on its own after the socket has gone. The thread signals the
// end on an event descriptor, so the wait can sleep on it as on a socket.
struct TagSocket::Lookup {
    Lookup() : wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Lookup() {
        if (wake >= 0) ::close(wake);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    std::mutex mutex;
    int wake;
    bool done = false;
    int error = 0;  // getaddrinfo code
    int systemError = 0;
    sockaddr_storage address{};
    socklen_t length = 0;
};

// ---------------------------------------------------------------- TagSocket

TagSocket::TagSocket(std::string serviceName, int defaultPort)
    : serviceName_(std::move(serviceName)), defaultPort_(defaultPort) {}

TagSocket::~TagSocket() {
    CloseHandle();
}

void TagSocket::CloseHandle() {
    // A wait parked on the descriptor must not outlive it.
    if (waiter_ && fd_ >= 0) waiter_->Interrupt();
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    tlsWants_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TagSocket::PumpEvents() {
    if (pump_) pump_();
}

void TagSocket::Fire(const Notify& event) {
    if (event) event(*this);
}

void TagSocket::ResetState() {
    readable_ = writable_ = connectedEvent_ = closed_ = false;
    error_ = false;
    errorCode_ = 0;
    cancel_ = false;
    lookup_.reset();
    counter_.ClearExpired();
}

int TagSocket::ReplyCode(std::string_view line) const {
    long long value = 0;
    if (!ParseInt(line.substr(0, 3), value)) return -1;
    return static_cast<int>(value);
}

// ---- raising

void TagSocket::RaiseError(int code, const std::string& text) {
    counter_.Stop();
    if (OnError) OnError(*this, text);
    throw SocketError(text, code);
}

void TagSocket::RaiseErrorId(int id) {
    RaiseError(id, std::string(TransportErrorText(id)));
}

void TagSocket::RaiseAndClose(int id, const std::string& text) {
    counter_.Stop();
    if (OnError) OnError(*this, text);
    Close();
    throw SocketError(text, id);
}

void TagSocket::RaiseSystemError(int code) {
    if (code == 0) return;
    counter_.Stop();
    const std::string text = SystemErrorText(code);
    if (OnError) OnError(*this, text);
    if (code == ECONNRESET) Close();
    throw SocketError(text, code);
}

void TagSocket::RaiseErrorFlag() {
    if (errorDomain_ == Domain::Resolver) {
        RaiseError(errorCode_, ResolverErrorText(errorCode_));
    }
    RaiseSystemError(errorCode_);
}

void TagSocket::RaiseTimeOut() {
    counter_.Stop();
    if (OnError) OnError(*this, std::string(kTextTimedOut));
    lookup_.reset();
    Close();
    throw TimeOutError();
}

void TagSocket::RaiseCancel() {
    counter_.Stop();
    if (OnError) OnError(*this, std::string(kTextCanceled));
    throw CancelError();
}

void TagSocket::SetErrorFlag(int code, Domain domain) {
    if (code == 0) return;
    error_ = true;
    errorCode_ = code;
    errorDomain_ = domain;
}

// ---- waiting

void TagSocket::WaitUntil(const std::function<bool()>& done, bool watchError,
                          const std::function<void()>& idle) {
    counter_.Start();
    for (;;) {
        PumpEvents();
        if (done() || cancel_ || counter_.Expired() || (watchError && error_)) break;
        idle();
    }
    counter_.Stop();
}

// Without a waiter every sleep is one pump interval, so the pump runs often
// enough for a window; with one, a sleep lasts until the next second of the
// time-out, the one thing besides the socket and the waiter that can end it.
int TagSocket::SliceMs() const {
    if (!waiter_) return kPumpIntervalMs;
    const int ms = counter_.MsToNextTick();
    return ms < 0 ? kPumpIntervalMs : ms < 1 ? 1 : ms;
}

short TagSocket::Sleep(int fd, short events) {
    if (fd < 0) events = 0;
    const int ms = SliceMs();
    if (waiter_) return waiter_->Wait(events == 0 ? -1 : fd, events, ms);
    pollfd p{};
    p.fd = events == 0 ? -1 : fd;
    p.events = events;
    return ::poll(&p, 1, ms) > 0 ? p.revents : 0;
}

// Sleeps up to one slice, or less when the socket shows one of the
// events. A socket whose peer has closed is not polled for reading again:
// it would report readable at once, for ever.
void TagSocket::IdleOnSocket(short events) {
    int fd = fd_;
    if (fd_ < 0 || events == 0 || (events == POLLIN && closed_)) fd = -1;
    // TLS may need the other direction first, and needs no socket at all
    // for bytes it has already decrypted.
    if (tls_ && fd >= 0) {
        if ((events & POLLIN) && tls_->Pending()) return;
        if (tlsWants_ != 0) events = tlsWants_;
    }
    Sleep(fd, events);
}

// Readable means bytes are waiting; an orderly close only sets the closed flag.
void TagSocket::WatchReadable() {
    if (fd_ < 0 || closed_) {
        IdleOnSocket(0);
        return;
    }
    if (tls_ && tls_->Pending()) {
        readable_ = true;
        return;
    }
    const short revents = Sleep(fd_, POLLIN | POLLRDHUP);
    if (revents == 0 || fd_ < 0) return;
    // Bytes with no close behind them need no second look: this wait runs
    // twice for every message of a check.
    if ((revents & POLLIN) && !(revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        readable_ = true;
        return;
    }
    char byte;
    const ssize_t n = Receive(&byte, 1, true);
    if (n > 0) {
        readable_ = true;
    } else if (n == 0) {
        closed_ = true;
    } else if (!WouldBlock(errno)) {
        SetErrorFlag(errno, Domain::System);
    }
}

void TagSocket::WatchConnect() {
    const short revents = Sleep(fd_, POLLOUT);
    if (revents == 0 || fd_ < 0) return;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
        SetErrorFlag(err, Domain::System);
    } else if (revents & POLLOUT) {
        connectedEvent_ = writable_ = true;
    }
}

// ---- Open

void TagSocket::Open() {
    if (ras_) ras_->Connect();
    Fire(OnOpen);
    if (server_.empty()) RaiseErrorId(kErrServerRequired);

    const ServerParts parts = SplitServer(server_);
    char name[512] = {};
    if (::gethostname(name, sizeof name - 1) == 0) {
        localHost_ = name;
    } else {
        localHost_ = parts.host;
    }
    ResolveHost(parts.host);
    ResolvePort(parts.port, parts.hasPort);
    CreateSocket();
}

void TagSocket::ResolveHost(const std::string& host) {
    remoteLen_ = 0;
    remote_ = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&remote_);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&remote_);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        remoteLen_ = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        remoteLen_ = sizeof(sockaddr_in6);
    } else {
        // getaddrinfo blocks and cannot be interrupted, so it runs on a
        // thread of its own; the waiting stays here, pumping as every wait.
        auto job = std::make_shared<Lookup>();
        try {
            std::thread([job, host] {
                addrinfo hints{};
                hints.ai_family = AF_UNSPEC;
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* result = nullptr;
                const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
                const int sysErr = errno;
                std::lock_guard lock(job->mutex);
                job->error = rc;
                if (rc == EAI_SYSTEM) job->systemError = sysErr;
                if (rc == 0) {
                    for (const addrinfo* a = result; a; a = a->ai_next) {
                        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) &&
                            a->ai_addrlen <= sizeof job->address) {
                            std::memcpy(&job->address, a->ai_addr, a->ai_addrlen);
                            job->length = a->ai_addrlen;
                            break;
                        }
                    }
                    ::freeaddrinfo(result);
                }
                job->done = true;
                if (job->wake >= 0) {
                    const std::uint64_t one = 1;
                    [[maybe_unused]] const ssize_t w = ::write(job->wake, &one, sizeof one);
                }
            }).detach();
        } catch (const std::system_error& e) {
            RaiseSystemError(e.code().value() ? e.code().value() : EAGAIN);
        }
        lookup_ = job;

        bool resolved = false;
        WaitUntil(
            [&] {
                std::lock_guard lock(job->mutex);
                return resolved = job->done;
            },
            false, [&] { Sleep(job->wake, POLLIN); });
        lookup_.reset();
        if (resolved) {
            std::lock_guard lock(job->mutex);
            if (job->error == EAI_SYSTEM && job->systemError != 0) {
                SetErrorFlag(job->systemError, Domain::System);
            } else {
                SetErrorFlag(job->error, Domain::Resolver);
            }
            if (job->error == 0) {
                remote_ = job->address;
                remoteLen_ = job->length;
            }
        }
        if (error_) RaiseErrorFlag();
        if (counter_.Expired()) RaiseTimeOut();
        if (cancel_) RaiseCancel();
    }
    if (remoteLen_ == 0) RaiseErrorId(kErrResolveHost);

    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = remote_.ss_family == AF_INET ? static_cast<const void*>(&v4->sin_addr)
                                                   : static_cast<const void*>(&v6->sin6_addr);
    remoteText_ = ::inet_ntop(remote_.ss_family, raw, text, sizeof text) ? text : "";
}

void TagSocket::ResolvePort(std::string_view portText, bool hasPort) {
    long long value = 0;
    const bool implicitTls = security_ == ConnectionSecurity::Tls && !tlsServiceName_.empty();
    const std::string& service = implicitTls ? tlsServiceName_ : serviceName_;
    const int fallback = implicitTls ? tlsDefaultPort_ : defaultPort_;
    if (hasPort && ParseInt(portText, value) && (value & 0xFFFF) != 0) {
        port_ = static_cast<std::uint16_t>(value & 0xFFFF);
    } else {
        if (service.empty()) RaiseErrorId(kErrServiceRequired);
        if (cancel_) RaiseCancel();
        // The services database is a local file: read at once, no wait.
        servent entry{};
        servent* found = nullptr;
        char buffer[1024];
        if (::getservbyname_r(service.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 &&
            found != nullptr) {
            port_ = ntohs(static_cast<std::uint16_t>(found->s_port));
        } else {
            port_ = static_cast<std::uint16_t>(fallback & 0xFFFF);
        }
    }
    if (remote_.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&remote_)->sin_port = htons(port_);
    } else {
        reinterpret_cast<sockaddr_in6*>(&remote_)->sin6_port = htons(port_);
    }
}

void TagSocket::CreateSocket() {
    CloseHandle();  // a second Open must not leak the first handle
    const int fd = ::socket(remote_.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) RaiseSystemError(errno);
    fd_ = fd;
}

// ---- Connect

void TagSocket::Connect() {
    if (cancel_) RaiseCancel();
    if (!Connected()) RaiseErrorId(kErrNotConnected);
    // A failed connect drops the handle, so that the socket no longer counts
    // as connected and nobody says QUIT to it. No session was open, so it
    // fires neither OnClosing nor OnClosed.
    counter_.Start();
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote_), remoteLen_) == 0) {
        connectedEvent_ = writable_ = true;
    } else if (errno != EINPROGRESS && errno != EINTR) {
        const int code = errno;
        CloseHandle();
        RaiseSystemError(code);
    }
    WaitUntil([&] { return connectedEvent_; }, true, [&] { WatchConnect(); });
    if (cancel_) RaiseCancel();
    if (counter_.Expired()) RaiseTimeOut();
    if (error_) {
        CloseHandle();
        RaiseErrorFlag();
    }
    if (security_ == ConnectionSecurity::Tls) StartTls();
}

// ---- TLS

void TagSocket::StartTls() {
    if (cancel_) RaiseCancel();
    if (!Connected()) RaiseErrorId(kErrNotConnected);
    const CertificateCheck check = probing_               ? CertificateCheck::Probe
                                   : fingerprint_.empty() ? CertificateCheck::TrustStore
                                                          : CertificateCheck::Pinned;
    try {
        tls_ = std::make_unique<TlsLayer>(fd_, SplitServer(server_).host, check, fingerprint_);
    } catch (const TlsFailure& failure) {
        RaiseTlsFailure(failure);
    }
    bool done = false;
    std::optional<TlsFailure> failed;
    WaitUntil([&] { return done || failed.has_value(); }, false,
              [&] {
                  if (!tls_) {  // cancelled from the pump
                      IdleOnSocket(0);
                      return;
                  }
                  short wants = POLLIN;
                  try {
                      const TlsLayer::Want want = tls_->Handshake();
                      done = want == TlsLayer::Want::Nothing;
                      if (want == TlsLayer::Want::Write) wants = POLLOUT;
                  } catch (const TlsFailure& failure) {
                      failed = failure;
                  }
                  if (done || failed) return;
                  Sleep(fd_, wants);
              });
    if (cancel_) RaiseCancel();
    if (failed) RaiseTlsFailure(*failed);
    if (!done && counter_.Expired()) RaiseTimeOut();
}

const CertificateInfo* TagSocket::PeerCertificate() const {
    return tls_ ? &tls_->Peer() : nullptr;
}

// A broken TLS session cannot go on: the connection is closed.
void TagSocket::RaiseTlsFailure(const TlsFailure& failure) {
    counter_.Stop();
    const int code = failure.SystemError() != 0 ? failure.SystemError() : kErrTls;
    const std::string text =
        failure.SystemError() != 0 ? SystemErrorText(failure.SystemError()) : failure.what();
    if (OnError) OnError(*this, text);
    Close();
    throw SocketError(text, code);
}

ssize_t TagSocket::Receive(char* buffer, std::size_t size, bool peek) {
    if (!tls_) return ::recv(fd_, buffer, size, (peek ? MSG_PEEK : 0) | MSG_DONTWAIT);
    TlsLayer::Want want = TlsLayer::Want::Nothing;
    long n = -1;
    try {
        n = tls_->Read(buffer, size, peek, want);
    } catch (const TlsFailure& failure) {
        RaiseTlsFailure(failure);
    }
    tlsWants_ = n >= 0 ? 0 : want == TlsLayer::Want::Write ? POLLOUT : POLLIN;
    if (n < 0) errno = EAGAIN;
    return n;
}

ssize_t TagSocket::Transmit(const char* data, std::size_t size) {
    if (!tls_) return ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    TlsLayer::Want want = TlsLayer::Want::Nothing;
    long n = -1;
    try {
        n = tls_->Write(data, size, want);
    } catch (const TlsFailure& failure) {
        RaiseTlsFailure(failure);
    }
    tlsWants_ = n >= 0 ? 0 : want == TlsLayer::Want::Read ? POLLIN : POLLOUT;
    if (n < 0) errno = EAGAIN;
    return n;
}

// ---- SendLine

void TagSocket::SendLine(std::string_view text) {
    if (!Connected()) RaiseErrorId(kErrNotConnected);
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        RaiseErrorId(kErrCommandBreak);
    std::string data(text);
    data += "\r\n";
    std::size_t sent = 0;
    counter_.Start();
    for (;;) {
        PumpEvents();
        bool blocked = false;
        if (!cancel_ && Connected()) {
            const ssize_t n = Transmit(data.data() + sent, data.size() - sent);
            if (n >= 0) {
                sent += static_cast<std::size_t>(n);
            } else if (WouldBlock(errno)) {
                blocked = true;
            } else if (!cancel_) {
                RaiseSystemError(errno);
            }
        }
        PumpEvents();
        if (sent == data.size() || cancel_ || counter_.Expired()) break;
        if (blocked) IdleOnSocket(POLLOUT);
    }
    counter_.Stop();
    if (counter_.Expired()) RaiseTimeOut();
    if (cancel_) RaiseCancel();
}

// Waits until bytes (or the peer's close) are there; a cancel, the
// time-out or a socket error raises.
void TagSocket::AwaitReadable() {
    readable_ = false;
    WaitUntil([&] { return readable_; }, true, [&] { WatchReadable(); });
    if (cancel_) RaiseCancel();
    if (counter_.Expired()) RaiseTimeOut();
    if (error_) RaiseErrorFlag();
}

// ---- ReadReply

int TagSocket::ReadReply(std::string& line) {
    line.clear();
    lastReply_.clear();
    if (!Connected()) RaiseErrorId(kErrNotConnected);

    AwaitReadable();
    counter_.Start();
    readable_ = false;
    PumpEvents();

    // Look at what is waiting, then take no more than up to the line feed, so
    // a block that follows in the same packet stays in the socket.
    char buffer[kMaxReplyLine + 1];
    std::string got;
    bool lineFeed = false;
    for (;;) {
        if (cancel_ || counter_.Expired() || !Connected()) break;
        const std::size_t room = sizeof buffer - got.size();
        const ssize_t seen = Receive(buffer, room, true);
        if (seen == 0) {
            closed_ = true;
            break;
        }
        if (seen < 0) {
            if (!WouldBlock(errno)) {
                if (!cancel_) RaiseSystemError(errno);
                break;
            }
            IdleOnSocket(POLLIN);
            PumpEvents();
            continue;
        }
        const void* lf = std::memchr(buffer, '\n', static_cast<std::size_t>(seen));
        const std::size_t take =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - buffer) + 1
               : static_cast<std::size_t>(seen);
        const ssize_t n = Receive(buffer, take, false);
        if (n < 0) {
            if (!WouldBlock(errno) && !cancel_) RaiseSystemError(errno);
            continue;
        }
        got.append(buffer, static_cast<std::size_t>(n));
        if (!got.empty() && got.back() == '\n') {
            lineFeed = true;
            break;
        }
        if (got.size() >= sizeof buffer) {
            // The rest of this line would be read as the next reply.
            RaiseAndClose(kErrLineTooLong, std::string(kTextLineTooLong));
        }
        PumpEvents();
    }
    counter_.Stop();

    int result = -1;
    if (lineFeed) {
        while (!got.empty() && (got.back() == '\r' || got.back() == '\n'))
            got.pop_back();
        lastReply_ = got;
        line = got;
        result = ReplyCode(line);
    }
    if (counter_.Expired()) RaiseTimeOut();
    if (cancel_) RaiseCancel();
    return result;
}

int TagSocket::ReadReply() {
    std::string line;
    return ReadReply(line);
}

int TagSocket::ReadMultiReply() {
    std::string line;
    const int code = ReadReply(line);
    if (code > 0 && line.size() > 3 && line[3] == '-') {
        while (!closed_) {
            std::string next;
            const int c = ReadReply(next);
            if (c == code && next.size() > 3 && next[3] == ' ') break;
        }
    }
    return code;
}

// ---- ReadData

std::size_t TagSocket::ReadData(std::string& stream, std::int64_t expectedSize, std::size_t limit,
                                std::size_t keep) {
    if (!Connected()) RaiseErrorId(kErrNotConnected);

    // The block mostly comes in the same packet as its reply line: take
    // what is there before waiting for more.
    readable_ = false;

    // Only what this call reads counts: text already in the stream must
    // neither complete the block nor hide its end. A block ends with its
    // "." line (an empty block is that line alone), looked for in the last
    // bytes read, since the bytes past keep are not stored.
    const std::size_t start = stream.size();
    std::size_t total = 0;
    std::string tail;
    std::vector<char> buffer(kDataChunk);
    counter_.Start();
    for (;;) {
        ssize_t n = 0;
        if (!cancel_ && Connected() && !closed_) {
            n = Receive(buffer.data(), buffer.size(), false);
            if (n == 0) {
                closed_ = true;
            } else if (n < 0) {
                if (!WouldBlock(errno) && !cancel_) RaiseSystemError(errno);
                n = 0;
            }
        }
        const auto before = static_cast<std::int64_t>(start + total);
        if (OnProgress) OnProgress(*this, TransferPercent(before, expectedSize), before);
        bool complete = false;
        if (n > 0) {
            const std::string_view got(buffer.data(), static_cast<std::size_t>(n));
            const std::size_t kept = stream.size() - start;
            if (kept < keep) stream.append(got.substr(0, keep - kept));
            total += got.size();
            tail.append(got.substr(got.size() > 5 ? got.size() - 5 : 0));
            if (tail.size() > 5) tail.erase(0, tail.size() - 5);
            complete = (total == 3 && tail == ".\r\n") || tail.ends_with("\r\n.\r\n");
            counter_.Start();  // the limit is on silence, not on the whole block
            if (total > limit) {
                // The rest of the block would be read as the next replies.
                stream.resize(start);
                stream.shrink_to_fit();
                RaiseAndClose(kErrReplyTooLarge, std::string(kTextReplyTooLarge));
            }
        }
        PumpEvents();
        if (complete || cancel_ || counter_.Expired()) break;
        // Waiting on would only end in the time-out, reported as if the
        // server were slow.
        if (closed_) RaiseAndClose(kErrClosedInBlock, std::string(kTextClosedInBlock));
        if (n == 0) IdleOnSocket(POLLIN);
    }
    counter_.Stop();
    if (counter_.Expired()) RaiseTimeOut();
    if (cancel_) RaiseCancel();
    return total;
}

// ---- Exchange

std::size_t TagSocket::Exchange(std::string& out, std::string& in) {
    if (!Connected()) RaiseErrorId(kErrNotConnected);
    char buffer[kDataChunk];
    std::size_t got = 0;
    counter_.Start();
    for (;;) {
        PumpEvents();
        if (cancel_ || counter_.Expired() || !Connected() || closed_) break;
        if (!out.empty()) {
            const ssize_t n = Transmit(out.data(), out.size());
            if (n > 0) {
                out.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && !WouldBlock(errno) && !cancel_) {
                RaiseSystemError(errno);
            }
        }
        // Take what is waiting, so a burst of replies costs one wait; but
        // not without end, so the caller can bound what it holds.
        ssize_t n = 0;
        while ((n = Receive(buffer, sizeof buffer, false)) > 0) {
            in.append(buffer, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < sizeof buffer || got >= kMaxExchange) break;
        }
        if (n == 0) closed_ = true;
        if (n < 0 && !WouldBlock(errno) && !cancel_) RaiseSystemError(errno);
        if (got > 0 || closed_) break;
        // Bytes TLS has decrypted already need no socket.
        if (tls_ && tls_->Pending()) continue;
        const bool write = !out.empty() || (tlsWants_ & POLLOUT) != 0;
        Sleep(fd_, static_cast<short>(POLLIN | (write ? POLLOUT : 0)));
    }
    counter_.Stop();
    if (counter_.Expired()) RaiseTimeOut();
    if (cancel_) RaiseCancel();
    if (!Connected()) RaiseErrorId(kErrNotConnected);
    return got;
}

// ---- Close and Cancel

void TagSocket::Close() {
    if (Connected()) {
        Fire(OnClosing);
        CloseHandle();
        Fire(OnClosed);
    }
    if (ras_) ras_->HangUp();
}

void TagSocket::Cancel() {
    cancel_ = true;
    if (waiter_) waiter_->Interrupt();
    Fire(OnCancel);
    lookup_.reset();  // an abandoned lookup finishes on its thread unseen
    Close();
}

}  // namespace kelvane
