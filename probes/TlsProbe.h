// The TCP checks inside TLS: TLS from the first byte, or a plain start that asks for it
// (STARTTLS of SMTP, IMAP and POP3); then the check's greeting, send and expect run over
// the encrypted connection. The certificate is verified with the host name, and one that
// expires within the warning days fails the check.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "core/CheckSettings.h"
#include "core/Vardo.h"
#include "probes/CertificateWatch.h"
#include "probes/TcpSocket.h"

struct TlsCheckResult {
    bool ok = false;
    std::string reason;
    // The earliest expiry of the certificates the server sent, when a handshake gave them.
    std::optional<std::time_t> certificateExpiry;
};

class TlsProbe : private TTcpSocket {
  public:
    TlsProbe() = default;

    // The connect and every later step are bounded by timeoutMs each.
    TlsCheckResult check(const ServerItem& item, const TlsSettings& tls, std::int32_t timeoutMs,
                         std::time_t now);
    // Ends a waiting check at once; safe from any thread.
    void cancel() { Cancel(); }

  private:
    using TimePoint = std::chrono::steady_clock::time_point;
    // The plain dialogue before the handshake; the server's first reply goes to greeting.
    void askForTls(TlsMode mode, TimePoint until, std::string& greeting);
    // A whole reply of a line-based protocol: lines until the one done accepts.
    std::string replyUntil(TimePoint until, bool (*done)(const std::string& line));
    TimePoint limit() const;

    CertificateFindings findings_;
};
