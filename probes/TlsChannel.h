// TLS for the mail client and the TLS checks, on OpenSSL, over a connected non-blocking socket
// that someone else owns. Every operation runs until it is done, waiting through a callback for the socket to
// become ready, so the owner's time limits and cancel apply to each wait.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "probes/TcpSocket.h"

// A TLS failure: the handshake, the certificate, or the encrypted connection afterwards.
class ETlsError : public ESocketError {
  public:
    using ESocketError::ESocketError;
};

struct TlsPeer {
    // What the client connected to: the name sent as SNI and checked against the certificate,
    // or an IPv4 or IPv6 address, checked against the certificate's IP entries.
    std::string host;
    bool verifyCertificate = true;
    // A PEM file of certificate authorities trusted beside the system's; empty for none.
    std::string caFile;
};

// The folder of the system's trusted authorities, hashed for lookup (SSL_CERT_DIR, else
// OpenSSL's default). Each is read when a chain needs it, where loading the whole bundle
// would cost every new connection more than its handshake.
const char* systemCertificateDir();

class TlsChannel {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // Waits until the socket shows events (POLLIN or POLLOUT) or until passes; throws with
    // abortText when the wait ends without the socket being ready.
    using Wait = std::function<void(short events, TimePoint until, const char* abortText)>;

    // Throws ETlsError when the CA file cannot be used. onContext, when given, sees the
    // OpenSSL SSL_CTX once it is set up, before the handshake.
    TlsChannel(int fd, const TlsPeer& peer, Wait wait,
               const std::function<void(void* sslCtx)>& onContext = {});
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // The handshake with the server, done by until. A refused certificate and any other
    // failure throw ETlsError, each with a text of its own.
    void handshake(TimePoint until);
    // Sends every byte by until.
    void write(std::string_view bytes, TimePoint until);
    // Appends what arrives next to in, waiting for it until until; false when the server
    // has closed the connection.
    bool read(std::string& in, TimePoint until);
    // Tells the server that the client is done, without waiting for an answer.
    void close() noexcept;

  private:
    struct State;
    // Waits as SSL's error for result asks, or throws for a failure.
    void await(int result, TimePoint until, const char* abortText, const char* failure);

    std::unique_ptr<State> state_;
    Wait wait_;
};
