#include "probes/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The socket under the channel. OpenSSL's own socket BIO writes with write(), which raises
// SIGPIPE when the server has gone; send() with MSG_NOSIGNAL reports it as an error instead.
int socketOf(BIO* bio) {
    return *static_cast<const int*>(BIO_get_data(bio));
}

int bioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::send(socketOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_write(bio);
        }
        return -1;
    }
}

int bioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(socketOf(bio), data, static_cast<std::size_t>(length), 0);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
        }
        return -1;
    }
}

long bioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

bool isAddress(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The first error OpenSSL queued, as its reason text.
std::string queuedError() {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) {
        return "unknown error";
    }
    if (const char* reason = ERR_reason_error_string(e)) {
        return reason;
    }
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

}  // namespace

const char* systemCertificateDir() {
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    return dir != nullptr ? dir : X509_get_default_cert_dir();
}

struct TlsChannel::State {
    int fd = -1;
    BIO_METHOD* method = nullptr;
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;

    State() = default;
    ~State() {
        SSL_free(ssl);
        SSL_CTX_free(context);
        BIO_meth_free(method);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

TlsChannel::TlsChannel(int fd, const TlsPeer& peer, Wait wait,
                       const std::function<void(void* sslCtx)>& onContext)
    : state_(std::make_unique<State>()), wait_(std::move(wait)) {
    ERR_clear_error();
    State& s = *state_;
    s.fd = fd;
    const std::string host(peer.host.c_str());  // texts end at their first NUL
    s.context = SSL_CTX_new(TLS_client_method());
    if (s.context == nullptr) {
        throw ETlsError("TLS cannot be set up: " + queuedError());
    }
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    // Every SMTP reply says where it ends, so a server that closes without saying goodbye
    // in TLS has only closed the connection.
    SSL_CTX_set_options(s.context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (peer.verifyCertificate) {
        SSL_CTX_load_verify_dir(s.context, systemCertificateDir());
        const std::string caFile(peer.caFile.c_str());
        if (!caFile.empty() && SSL_CTX_load_verify_locations(s.context, caFile.c_str(), nullptr) != 1) {
            throw ETlsError("The CA file " + caFile + " cannot be used: " + queuedError());
        }
        SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
    }
    if (onContext) {
        onContext(s.context);
    }
    s.method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mail socket");
    s.ssl = SSL_new(s.context);
    if (s.method == nullptr || s.ssl == nullptr) {
        throw ETlsError("TLS cannot be set up: " + queuedError());
    }
    BIO_meth_set_write(s.method, bioWrite);
    BIO_meth_set_read(s.method, bioRead);
    BIO_meth_set_ctrl(s.method, bioControl);
    BIO_meth_set_create(s.method, bioCreate);
    BIO* bio = BIO_new(s.method);
    if (bio == nullptr) {
        throw ETlsError("TLS cannot be set up: " + queuedError());
    }
    BIO_set_data(bio, &s.fd);
    SSL_set_bio(s.ssl, bio, bio);
    SSL_set_connect_state(s.ssl);
    const bool address = isAddress(host);
    // A name goes with the hello, so that a server with many names shows the right
    // certificate; an address is never sent that way.
    if (!address && !host.empty() && SSL_set_tlsext_host_name(s.ssl, host.c_str()) != 1) {
        throw ETlsError("TLS cannot be set up: " + queuedError());
    }
    if (peer.verifyCertificate) {
        int ok = 0;
        if (address) {
            ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s.ssl), host.c_str());
        } else {
            SSL_set_hostflags(s.ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            ok = SSL_set1_host(s.ssl, host.c_str());
        }
        if (ok != 1) {
            throw ETlsError("TLS cannot be set up: " + queuedError());
        }
    }
}

TlsChannel::~TlsChannel() = default;

void TlsChannel::await(int result, TimePoint until, const char* abortText, const char* failure) {
    const int systemError = errno;
    const int error = SSL_get_error(state_->ssl, result);
    if (error == SSL_ERROR_WANT_READ) {
        wait_(POLLIN, until, abortText);
        return;
    }
    if (error == SSL_ERROR_WANT_WRITE) {
        wait_(POLLOUT, until, abortText);
        return;
    }
    std::string reason;
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        reason = systemError != 0 ? std::strerror(systemError) : "the mail server closed the connection";
    } else if (error == SSL_ERROR_ZERO_RETURN) {
        reason = "the mail server closed the connection";
    } else {
        reason = queuedError();
    }
    ERR_clear_error();
    throw ETlsError(std::string(failure) + ": " + reason);
}

void TlsChannel::handshake(TimePoint until) {
    SSL* ssl = state_->ssl;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int result = SSL_do_handshake(ssl);
        if (result == 1) {
            return;
        }
        const int error = SSL_get_error(ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            const long verdict = SSL_get_verify_result(ssl);
            if (verdict != X509_V_OK) {
                ERR_clear_error();
                throw ETlsError(std::string("The mail server's certificate was refused: ") +
                                X509_verify_cert_error_string(verdict));
            }
        }
        await(result, until, "TLS handshake aborted", "TLS handshake with the mail server failed");
    }
}

void TlsChannel::write(std::string_view bytes, TimePoint until) {
    while (!bytes.empty()) {
        ERR_clear_error();
        errno = 0;
        std::size_t written = 0;
        const int result = SSL_write_ex(state_->ssl, bytes.data(), bytes.size(), &written);
        if (result == 1) {
            bytes.remove_prefix(written);
            continue;
        }
        await(result, until, "Socket send aborted", "Sending to the mail server failed");
    }
}

bool TlsChannel::read(std::string& in, TimePoint until) {
    char buf[16384];
    for (;;) {
        ERR_clear_error();
        errno = 0;
        std::size_t got = 0;
        const int result = SSL_read_ex(state_->ssl, buf, sizeof buf, &got);
        if (result == 1) {
            in.append(buf, got);
            return true;
        }
        const int error = SSL_get_error(state_->ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN ||
            (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && errno == 0)) {
            ERR_clear_error();
            return false;
        }
        await(result, until, "Socket readln aborted", "Reading from the mail server failed");
    }
}

void TlsChannel::close() noexcept {
    if (SSL_is_init_finished(state_->ssl)) {
        ERR_clear_error();
        SSL_shutdown(state_->ssl);
    }
    ERR_clear_error();
}
