#include "mail/tlslayer.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace kelvane {

namespace {

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a
// connection the server has dropped; this one never does.
int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n =
        ::send(SocketOf(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && WouldBlock(errno)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(SocketOf(bio), data, static_cast<std::size_t>(size), MSG_DONTWAIT);
    if (n < 0 && WouldBlock(errno)) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kelvane socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

std::string NameText(const X509_NAME* name) {
    BIO* out = BIO_new(BIO_s_mem());
    if (!out) return {};
    X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
    BIO_free(out);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    BIO* out = BIO_new(BIO_s_mem());
    if (!out) return {};
    ASN1_TIME_print(out, time);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
    BIO_free(out);
    return text;
}

std::string VerifyText(long code, const std::string& host) {
    switch (code) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "The server's certificate is not valid for the host name " + host;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "The server's certificate was issued by an unknown authority";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "The server's certificate has expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "The server's certificate is not valid yet";
        default:
            return std::string("The server's certificate was refused: ") +
                   X509_verify_cert_error_string(code);
    }
}

bool IsAddress(const std::string& host) {
    unsigned char raw[16];
    return ::inet_pton(AF_INET, host.c_str(), raw) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), raw) == 1;
}

}  // namespace

std::optional<std::string> NormalizeFingerprint(std::string_view text) {
    std::string hex;
    for (const char c : text) {
        if (c == ':') continue;
        if (c >= '0' && c <= '9') {
            hex += c;
        } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
            hex += static_cast<char>(c | 0x20);
        } else {
            return std::nullopt;
        }
    }
    if (hex.size() != 64) return std::nullopt;
    return hex;
}

std::string FormatFingerprint(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        if (i > 0 && i % 2 == 0) out += ':';
        const char c = hex[i];
        out += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

struct TlsLayer::State {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    long firstVerifyError = X509_V_OK;
    bool up = false;

    ~State() {
        if (ssl) SSL_free(ssl);  // frees the BIO too
        if (ctx) SSL_CTX_free(ctx);
    }
};

namespace {

// Pinned and probed certificates pass the chain check; the first complaint
// is kept for the probe's report.
int KeepFirstError(int preverified, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (!preverified) {
        long* first = static_cast<long*>(SSL_get_app_data(ssl));
        if (first && *first == X509_V_OK) *first = X509_STORE_CTX_get_error(store);
    }
    return 1;
}

}  // namespace

TlsLayer::TlsLayer(int fd, const std::string& host, CertificateCheck check, const std::string& pin)
    : state_(std::make_unique<State>()), check_(check), host_(host) {
    if (check == CertificateCheck::Pinned) {
        const auto normal = NormalizeFingerprint(pin);
        if (!normal) throw TlsFailure(std::string(kTextBadPin));
        pin_ = *normal;
    }
    ERR_clear_error();
    state_->ctx = SSL_CTX_new(TLS_client_method());
    if (!state_->ctx) throw TlsFailure("Cannot set up TLS");
    SSL_CTX* ctx = state_->ctx;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A server that drops the connection without the closing alert is a
    // closed connection, as it is in plain text; POP3 marks its own ends.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // A second handshake inside the session could bring another certificate
    // that nothing checks against the pin; POP3 has no use for one.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The default paths honour SSL_CERT_FILE and SSL_CERT_DIR.
    if (check != CertificateCheck::Pinned) SSL_CTX_set_default_verify_paths(ctx);

    state_->ssl = SSL_new(ctx);
    BIO* bio = SocketMethod() ? BIO_new(SocketMethod()) : nullptr;
    if (!state_->ssl || !bio) {
        if (bio) BIO_free(bio);
        throw TlsFailure("Cannot set up TLS");
    }
    SSL* ssl = state_->ssl;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, &state_->firstVerifyError);

    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    SSL_set_verify(ssl, SSL_VERIFY_PEER,
                   check == CertificateCheck::TrustStore ? nullptr : KeepFirstError);
    SSL_set_connect_state(ssl);
}

TlsLayer::~TlsLayer() = default;

void TlsLayer::Fail(int result, const char* during) {
    SSL* ssl = state_->ssl;
    const int err = SSL_get_error(ssl, result);
    const unsigned long code = ERR_peek_last_error();
    if (!state_->up && check_ == CertificateCheck::TrustStore) {
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            throw TlsFailure(VerifyText(verify, host_));
        }
    }
    if (err == SSL_ERROR_SYSCALL && code == 0) {
        const int sys = errno;
        ERR_clear_error();
        if (sys != 0) throw TlsFailure("", sys);
        throw TlsFailure(std::string("The server closed the connection during ") + during);
    }
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    throw TlsFailure(std::string("TLS ") + during +
                     " failed: " + (reason ? reason : "error " + std::to_string(err)));
}

TlsLayer::Want TlsLayer::Handshake() {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_do_handshake(state_->ssl);
    if (rc == 1) {
        state_->up = true;
        CheckPeer();
        return Want::Nothing;
    }
    const int err = SSL_get_error(state_->ssl, rc);
    if (err == SSL_ERROR_WANT_READ) return Want::Read;
    if (err == SSL_ERROR_WANT_WRITE) return Want::Write;
    Fail(rc, "handshake");
}

void TlsLayer::CheckPeer() {
    X509* cert = SSL_get1_peer_certificate(state_->ssl);
    if (!cert) throw TlsFailure("The server sent no certificate");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    static const char kHex[] = "0123456789abcdef";
    peer_ = {};
    for (unsigned int i = 0; i < length; ++i) {
        peer_.fingerprint += kHex[digest[i] >> 4];
        peer_.fingerprint += kHex[digest[i] & 15];
    }
    peer_.subject = NameText(X509_get_subject_name(cert));
    peer_.issuer = NameText(X509_get_issuer_name(cert));
    peer_.notBefore = TimeText(X509_get0_notBefore(cert));
    peer_.notAfter = TimeText(X509_get0_notAfter(cert));
    X509_free(cert);
    if (state_->firstVerifyError != X509_V_OK)
        peer_.trustProblem = VerifyText(state_->firstVerifyError, host_);
    if (check_ == CertificateCheck::Pinned && peer_.fingerprint != pin_)
        throw TlsFailure(std::string(kTextPinMismatch));
}

long TlsLayer::Read(char* buffer, std::size_t size, bool peek, Want& want) {
    want = Want::Nothing;
    ERR_clear_error();
    errno = 0;
    std::size_t got = 0;
    const int rc = peek ? SSL_peek_ex(state_->ssl, buffer, size, &got)
                        : SSL_read_ex(state_->ssl, buffer, size, &got);
    if (rc == 1) return static_cast<long>(got);
    return Unfinished(rc, want, "read");
}

long TlsLayer::Write(const char* data, std::size_t size, Want& want) {
    want = Want::Nothing;
    ERR_clear_error();
    errno = 0;
    std::size_t done = 0;
    const int rc = SSL_write_ex(state_->ssl, data, size, &done);
    if (rc == 1) return static_cast<long>(done);
    // A write into a closed session is a failure, never "nothing written":
    // the caller would only try again.
    if (SSL_get_error(state_->ssl, rc) == SSL_ERROR_ZERO_RETURN) {
        ERR_clear_error();
        throw TlsFailure("The server closed the connection during write");
    }
    return Unfinished(rc, want, "write");
}

long TlsLayer::Unfinished(int result, Want& want, const char* during) {
    switch (SSL_get_error(state_->ssl, result)) {
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_WANT_READ:
            want = Want::Read;
            return -1;
        case SSL_ERROR_WANT_WRITE:
            want = Want::Write;
            return -1;
        default:
            Fail(result, during);
    }
}

bool TlsLayer::Pending() const {
    return SSL_pending(state_->ssl) > 0;
}

void TlsLayer::Shutdown() {
    if (!state_->up) return;
    state_->up = false;
    ERR_clear_error();
    SSL_shutdown(state_->ssl);
    ERR_clear_error();
}

}  // namespace kelvane
