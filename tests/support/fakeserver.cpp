#include "fakeserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvane::test {

namespace {

constexpr int kSliceMs = 10;

std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

FakeServer::FakeServer(Family family) : family_(family) {
    const int domain = family == Family::IPv4 ? AF_INET : AF_INET6;
    const int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (family == Family::IPv4) {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        len = sizeof *a;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    port_ = ntohs(family == Family::IPv4 ? reinterpret_cast<sockaddr_in*>(&addr)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    listener_ = fd;
    thread_ = std::thread([this] { Run(); });
}

FakeServer::~FakeServer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    DropClient();
    if (listener_ >= 0) ::close(listener_);
}

std::string FakeServer::Address() const {
    const std::string port = std::to_string(port_);
    return family_ == Family::IPv4 ? "127.0.0.1:" + port : "[::1]:" + port;
}

FakeServer& FakeServer::Add(Step step) {
    {
        std::lock_guard lock(mutex_);
        steps_.push_back(std::move(step));
    }
    changed_.notify_all();
    return *this;
}

FakeServer& FakeServer::Send(std::string text) {
    return Add({Step::Send, std::move(text)});
}
FakeServer& FakeServer::SendSlowly(std::string text, std::size_t pieceSize, Ms pause) {
    return Add({Step::Send, std::move(text), pieceSize ? pieceSize : 1, pause});
}
FakeServer& FakeServer::Expect(std::string line) {
    return Add({Step::Expect, std::move(line)});
}
FakeServer& FakeServer::Silence(Ms duration) {
    return Add({Step::Silence, {}, 0, duration});
}
FakeServer& FakeServer::AwaitClientClose() {
    return Add({Step::AwaitClose, {}});
}
FakeServer& FakeServer::Close() {
    return Add({Step::Close, {}});
}
FakeServer& FakeServer::Abort() {
    return Add({Step::Abort, {}});
}

bool FakeServer::Stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void FakeServer::Problem(std::string text) {
    std::lock_guard lock(mutex_);
    problems_.push_back(std::move(text));
}

void FakeServer::DropClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
    pending_.clear();
}

void FakeServer::Run() {
    for (;;) {
        Step step;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || next_ < steps_.size(); });
            if (stop_) return;
            step = steps_[next_];
            running_ = true;
        }
        RunStep(step);
        {
            std::lock_guard lock(mutex_);
            running_ = false;
            ++next_;
        }
        changed_.notify_all();
    }
}

// Polls in short slices so that stopping the server is noticed soon.
bool FakeServer::WaitReadable(int fd, Ms limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!Stopping() && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) > 0) return true;
    }
    return false;
}

bool FakeServer::EnsureClient() {
    if (client_ >= 0) return true;
    if (!WaitReadable(listener_, stepLimit_)) {
        if (!Stopping()) Problem("no client connected");
        return false;
    }
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client_ < 0) {
        Problem(std::string("accept failed: ") + std::strerror(errno));
        return false;
    }
    std::lock_guard lock(mutex_);
    ++connections_;
    return true;
}

// Reads what the client has sent without waiting and reports it.
void FakeServer::DrainUnexpected(const char* when) {
    std::string extra = pending_;
    pending_.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        extra.append(buffer, static_cast<std::size_t>(n));
        std::lock_guard lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(n));
    }
    if (!extra.empty()) Problem(std::string("unexpected ") + when + ": " + Printable(extra));
}

void FakeServer::RunStep(const Step& step) {
    if (!EnsureClient()) return;
    switch (step.kind) {
        case Step::Send: {
            const std::size_t piece = step.piece ? step.piece : step.text.size();
            for (std::size_t at = 0; at < step.text.size(); at += piece) {
                if (step.pause.count() > 0) std::this_thread::sleep_for(step.pause);
                const std::string part = step.text.substr(at, piece);
                if (::send(client_, part.data(), part.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(part.size())) {
                    Problem("send failed: " + Printable(part));
                    return;
                }
            }
            return;
        }
        case Step::Expect: {
            const auto end = std::chrono::steady_clock::now() + stepLimit_;
            std::size_t lf;
        next_line:
            while ((lf = pending_.find('\n')) == std::string::npos) {
                const auto left =
                    std::chrono::duration_cast<Ms>(end - std::chrono::steady_clock::now());
                if (left.count() <= 0 || !WaitReadable(client_, left)) {
                    Problem("expected \"" + step.text + "\", got \"" + Printable(pending_) +
                            "\" and then nothing");
                    return;
                }
                char buffer[4096];
                const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    Problem("expected \"" + step.text + "\", client closed after \"" +
                            Printable(pending_) + "\"");
                    return;
                }
                pending_.append(buffer, static_cast<std::size_t>(n));
                std::lock_guard lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(n));
            }
            std::string line = pending_.substr(0, lf);
            pending_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            for (const auto& [command, answer] :
                 {std::pair{"CAPA", &capaAnswer_}, std::pair{"UIDL", &uidlAnswer_}}) {
                if (line != command || step.text == command || answer->empty()) continue;
                if (::send(client_, answer->data(), answer->size(), MSG_NOSIGNAL) < 0)
                    Problem("send failed: " + Printable(*answer));
                goto next_line;
            }
            if (line != step.text) Problem("expected \"" + step.text + "\", got \"" + line + "\"");
            if (lockstep_ && !pending_.empty())
                Problem("\"" + Printable(pending_) + "\" sent before the reply to \"" + line +
                        "\"");
            return;
        }
        case Step::Silence: {
            const auto end = std::chrono::steady_clock::now() + step.pause;
            while (!Stopping() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(Ms(kSliceMs));
            return;
        }
        case Step::AwaitClose: {
            std::string extra = pending_;
            pending_.clear();
            for (;;) {
                if (!WaitReadable(client_, stepLimit_)) {
                    if (!Stopping()) Problem("client did not close");
                    break;
                }
                char buffer[4096];
                const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                extra.append(buffer, static_cast<std::size_t>(n));
                std::lock_guard lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(n));
            }
            if (!extra.empty()) Problem("unexpected before close: " + Printable(extra));
            DropClient();
            return;
        }
        case Step::Close:
            DrainUnexpected("before close");
            DropClient();
            return;
        case Step::Abort: {
            DrainUnexpected("before reset");
            linger hard{1, 0};
            ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            DropClient();
            return;
        }
    }
}

bool FakeServer::Finish(Ms limit) {
    std::size_t left = 0;
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return next_ == steps_.size() && !running_; });
        left = steps_.size() - next_;  // a step cut short by the stop counts as left
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (client_ >= 0) DrainUnexpected("at the end");
    std::lock_guard lock(mutex_);
    if (listener_ < 0) problems_.push_back("not listening");
    if (left > 0)
        problems_.push_back("script stopped with " + std::to_string(left) + " of " +
                            std::to_string(steps_.size()) + " steps left");
    return problems_.empty();
}

std::string FakeServer::Report() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& p : problems_)
        out += p + "\n";
    return out;
}

std::string FakeServer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

int FakeServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

}  // namespace kelvane::test
