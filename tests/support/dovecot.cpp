#include "support/dovecot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace kelvane::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kStartTries = 5;
constexpr milliseconds kGreetingLimit{10000};
constexpr milliseconds kStopLimit{15000};

// login_greeting tells this server from anything else that may answer on
// the port. auth_username_format keeps user names as given instead of folding
// them to lower case. No failure delay and no per-address penalty: a wrong
// password is answered at once and does not slow down the next test's login.
constexpr std::string_view kConfig = R"(instance_name = @INSTANCE@
base_dir = @DIR@/run
state_dir = @DIR@/state
protocols = pop3
listen = @LISTEN@
log_path = @DIR@/dovecot.log
login_greeting = kelvane-test ready.
@SSL@
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_username_format = %u
auth_failure_delay = 0
service anvil {
@CHROOT@
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @DIR@/passwd
}
userdb {
  driver = static
  args = uid=@USER@ gid=@GROUP@ home=@DIR@/home/%u
}
mail_location = maildir:~/Maildir
service pop3-login {
@CHROOT@
  inet_listener pop3 {
    port = @PORT@
  }
@POP3S@}
)";

bool IsExecutable(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A port nobody listens on right now. Another process may take it before the
// server binds it; the caller then tries again with a new one.
std::uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    close(fd);
    return ntohs(a.sin_port);
}

int ConnectLoopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads up to a line feed into line (without CR LF); false on time-out or
// end of stream.
bool ReadLineFrom(int fd, std::string& buffer, std::string& line, milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::size_t lf = buffer.find('\n');
        if (lf != std::string::npos) {
            line = buffer.substr(0, lf);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            buffer.erase(0, lf + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return false;
        buffer.append(buf, static_cast<std::size_t>(n));
    }
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Maildir file names carry flags after a colon once the server has seen them.
std::string BaseName(const fs::path& p) {
    const std::string name = p.filename().string();
    return name.substr(0, name.find(':'));
}

std::string HeaderValue(std::string_view message, std::string_view field) {
    std::istringstream in{std::string(message)};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        if (line.size() <= field.size() || line[field.size()] != ':') continue;
        bool same = true;
        for (std::size_t i = 0; i < field.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(line[i])) ==
                   std::tolower(static_cast<unsigned char>(field[i]));
        if (!same) continue;
        std::string value = line.substr(field.size() + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        return value;
    }
    return "";
}

void Chown(const std::string& path, uid_t uid, gid_t gid) {
    if (geteuid() != 0) return;
    if (chown(path.c_str(), uid, gid) != 0) throw std::runtime_error("cannot chown " + path);
}

}  // namespace

std::string Dovecot::Binary() {
    static const std::string found = [] {
        std::vector<std::string> dirs;
        if (const char* path = std::getenv("PATH")) {
            std::stringstream s(path);
            std::string d;
            while (std::getline(s, d, ':'))
                if (!d.empty()) dirs.push_back(d);
        }
        // Often not on a normal user's PATH.
        for (const char* d : {"/usr/sbin", "/usr/local/sbin", "/sbin"})
            dirs.emplace_back(d);
        for (const auto& d : dirs)
            if (IsExecutable(d + "/dovecot")) return d + "/dovecot";
        return std::string();
    }();
    return found;
}

bool Dovecot::Required() {
    const char* ci = std::getenv("CI");
    if (!ci) return false;
    const std::string v = ci;
    return !v.empty() && v != "false" && v != "0";
}

Dovecot::Dovecot(std::vector<MailUser> users, Tls tls) : tls_(tls == Tls::On) {
    if (Binary().empty()) throw std::runtime_error("dovecot is not installed");
    // Mail processes run as the mail user and must reach the homes.
    fs::permissions(dir_.path(), fs::perms(0755));

    if (geteuid() == 0) {
        // Dovecot refuses to run mail processes as root.
        const passwd* pw = getpwnam("nobody");
        if (!pw) throw std::runtime_error("no user nobody");
        mailUid_ = pw->pw_uid;
        mailGid_ = pw->pw_gid;
        const group* gr = getgrnam("nogroup");
        if (gr) mailGid_ = gr->gr_gid;
    } else {
        mailUid_ = geteuid();
        mailGid_ = getegid();
    }
    const passwd* pw = getpwuid(mailUid_);
    const group* gr = getgrgid(mailGid_);
    if (!pw || !gr) throw std::runtime_error("cannot name the mail user or group");
    mailUser_ = pw->pw_name;
    mailGroup_ = gr->gr_name;

    for (const char* d : {"run", "state", "home"})
        fs::create_directory(dir_.file(d));
    std::string passwdFile;
    for (const auto& u : users) {
        if (!passwords_.emplace(u.name, u.password).second)
            throw std::runtime_error("user " + u.name + " given twice");
        passwdFile += u.name + ":{PLAIN}" + u.password + "\n";
        const std::string home = dir_.file("home/" + u.name);
        for (const std::string& d : {home, home + "/Maildir", home + "/Maildir/new",
                                     home + "/Maildir/cur", home + "/Maildir/tmp"}) {
            fs::create_directory(d);
            Chown(d, mailUid_, mailGid_);
        }
    }
    WriteFile(dir_.file("passwd"), passwdFile);
    if (tls_) MakeCertificates();

    std::string why;
    for (int attempt = 1; attempt <= kStartTries; ++attempt) {
        if (Start(why)) return;
        Stop();
    }
    throw std::runtime_error("dovecot did not start (" + why + "); its log:\n" + Log());
}

Dovecot::~Dovecot() {
    Stop();
}

// A test authority and a server certificate it signed, with elliptic-curve
// keys (made in milliseconds); both are valid for two days.
void Dovecot::MakeCertificates() {
    const std::string d = dir_.path();
    WriteFile(d + "/server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands[] = {
        "openssl req -x509" + ec +
            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Kelvane Test CA'",
        "openssl req" + ec + " -keyout server.key -out server.csr -subj '/CN=127.0.0.1'",
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
        " -extfile server.ext -out server.pem",
        "openssl x509 -in server.pem -noout -fingerprint -sha256 > fingerprint.txt",
    };
    for (const std::string& c : commands)
        if (std::system(("cd '" + d + "' && " + c + " 2>>openssl.log").c_str()) != 0)
            throw std::runtime_error("openssl failed: " + c + "\n" + ReadFile(d + "/openssl.log"));
    const std::string line = ReadFile(d + "/fingerprint.txt");  // "sha256 Fingerprint=AB:..."
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw std::runtime_error("no fingerprint: " + line);
    fingerprint_ = line.substr(eq + 1, line.find_first_of("\r\n", eq) - eq - 1);
}

void Dovecot::WriteConfig() const {
    const bool root = geteuid() == 0;
    // Without root the login and anvil processes cannot chroot, and every
    // process runs as the current user.
    const std::string chroot = root ? "" : "  chroot =\n";
    const std::string users = root ? ""
                                   : "default_internal_user = @USER@\n"
                                     "default_internal_group = @GROUP@\n"
                                     "default_login_user = @USER@\n";
    std::string conf = std::string(kConfig) + users;
    const std::pair<std::string, std::string> values[] = {
        {"@CHROOT@\n", chroot},
        {"@INSTANCE@", "kelvane-test-" + std::to_string(getpid()) + "-" + std::to_string(port_)},
        {"@LISTEN@", tls_ ? "127.0.0.1, 127.0.0.2" : "127.0.0.1"},
        {"@SSL@", tls_ ? "ssl = yes\nssl_cert = <@DIR@/server.pem\nssl_key = <@DIR@/server.key\n"
                         "ssl_min_protocol = TLSv1.2"
                       : "ssl = no"},
        {"@POP3S@",
         tls_ ? "  inet_listener pop3s {\n    port = @TLSPORT@\n    ssl = yes\n  }\n" : ""},
        {"@DIR@", dir_.path()},
        {"@PORT@", std::to_string(port_)},
        {"@TLSPORT@", std::to_string(tlsPort_)},
        {"@USER@", mailUser_},
        {"@GROUP@", mailGroup_},
    };
    for (const auto& [key, value] : values)
        for (std::size_t at = conf.find(key); at != std::string::npos;
             at = conf.find(key, at + value.size()))
            conf.replace(at, key.size(), value);
    WriteFile(dir_.file("dovecot.conf"), conf);
}

bool Dovecot::Start(std::string& why) {
    port_ = FreePort();
    tlsPort_ = 0;
    while (tls_ && (tlsPort_ == 0 || tlsPort_ == port_))
        tlsPort_ = FreePort();
    WriteConfig();

    // Everything the child needs is prepared before the fork.
    const std::string binary = Binary();
    const std::string conf = dir_.file("dovecot.conf");
    const std::string out = dir_.file("stdout.log");
    const std::string err = dir_.file("stderr.log");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A crashed test must not leave the server running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || o < 0 || e < 0) _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        execl(binary.c_str(), "dovecot", "-F", "-c", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_ = pid;

    const auto deadline = Clock::now() + kGreetingLimit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "it exited at once";
            return false;
        }
        const int fd = ConnectLoopback(port_);
        if (fd >= 0) {
            std::string buffer, line;
            const bool got = ReadLineFrom(fd, buffer, line, milliseconds(2000));
            close(fd);
            if (got && line.starts_with("+OK kelvane-test")) return true;
            if (got) {
                why = "port " + std::to_string(port_) + " answered \"" + line + "\"";
                return false;
            }
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    why = "no greeting within " + std::to_string(kGreetingLimit.count()) + " ms";
    return false;
}

void Dovecot::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + kStopLimit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    pid_ = -1;
}

const std::string& Dovecot::Password(const std::string& user) const {
    const auto it = passwords_.find(user);
    if (it == passwords_.end()) throw std::runtime_error("no user " + user);
    return it->second;
}

std::string Dovecot::Maildir(const std::string& user) const {
    if (!passwords_.count(user)) throw std::runtime_error("no user " + user);
    return dir_.file("home/" + user + "/Maildir");
}

void Dovecot::AddMessage(const std::string& user, std::string_view text) {
    // The server lists new files in name order: a fixed-width time and
    // counter keep that the delivery order.
    char name[64];
    snprintf(name, sizeof name, "%010lld.M%06uP%d.kelvane",
             static_cast<long long>(std::time(nullptr)), ++delivered_, static_cast<int>(getpid()));
    const std::string box = Maildir(user);
    const std::string tmp = box + "/tmp/" + name;
    WriteFile(tmp, text);
    Chown(tmp, mailUid_, mailGid_);
    fs::rename(tmp, box + "/new/" + name);
}

std::vector<std::string> Dovecot::Messages(const std::string& user) const {
    const std::string box = Maildir(user);
    std::vector<std::pair<std::string, std::string>> found;  // base name, path
    for (const char* sub : {"/new", "/cur"})
        for (const auto& e : fs::directory_iterator(box + sub))
            if (e.is_regular_file()) found.emplace_back(BaseName(e.path()), e.path().string());
    std::sort(found.begin(), found.end());
    std::vector<std::string> texts;
    for (const auto& f : found)
        texts.push_back(ReadFile(f.second));
    return texts;
}

std::vector<std::string> Dovecot::MessageIds(const std::string& user) const {
    std::vector<std::string> ids;
    for (const auto& m : Messages(user))
        ids.push_back(HeaderValue(m, "Message-ID"));
    return ids;
}

std::string Dovecot::Log() const {
    return ReadFile(dir_.file("dovecot.log")) + ReadFile(dir_.file("stderr.log")) +
           ReadFile(dir_.file("stdout.log"));
}

// ---------------------------------------------------------------- RawPop

RawPop::RawPop(std::uint16_t port, const std::string& user, const std::string& password) {
    fd_ = ConnectLoopback(port);
    if (fd_ < 0) throw std::runtime_error("cannot connect to port " + std::to_string(port));
    const std::string greeting = ReadLine();
    if (!greeting.starts_with("+OK")) throw std::runtime_error("greeting: " + greeting);
    Command("USER " + user);
    Command("PASS " + password);
}

RawPop::~RawPop() {
    if (fd_ >= 0) close(fd_);
}

std::string RawPop::ReadLine() {
    std::string line;
    if (!ReadLineFrom(fd_, buffer_, line, milliseconds(10000)))
        throw std::runtime_error("no reply from the server");
    return line;
}

std::string RawPop::Command(const std::string& line) {
    if (!SendAll(fd_, line + "\r\n")) throw std::runtime_error("cannot send " + line);
    std::string reply = ReadLine();
    if (!reply.starts_with("+OK")) throw std::runtime_error(line + ": " + reply);
    return reply;
}

void RawPop::Quit() {
    Command("QUIT");
    close(fd_);
    fd_ = -1;
}

}  // namespace kelvane::test
