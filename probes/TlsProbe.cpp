#include "probes/TlsProbe.h"

#include <memory>
#include <stdexcept>

#include "probes/TcpProbe.h"
#include "probes/TlsChannel.h"

namespace {

// An SMTP reply ends with the line whose code is followed by a blank.
bool smtpLast(const std::string& line) {
    return line.size() < 4 || line[3] != '-';
}

bool untagged(const std::string& line) {
    return line.rfind("* ", 0) != 0;
}

bool anyLine(const std::string&) {
    return true;
}

// What follows the channel's "...failed: " prefix.
std::string tlsWords(const std::string& error) {
    const std::size_t colon = error.find(": ");
    return colon == std::string::npos ? error : error.substr(colon + 2);
}

class Refused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace

TlsProbe::TimePoint TlsProbe::limit() const {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

std::string TlsProbe::replyUntil(TimePoint until, bool (*done)(const std::string& line)) {
    for (int lines = 0; lines < 100; ++lines) {
        std::string line = ReadLnBy(until);
        if (line.empty()) {
            throw Refused("The server closed the connection");
        }
        if (done(line)) {
            return line;
        }
    }
    throw Refused("The server's reply does not end");
}

void TlsProbe::askForTls(TlsMode mode, TimePoint until, std::string& greeting) {
    switch (mode) {
        case TlsMode::StartTlsSmtp:
            greeting = replyUntil(until, smtpLast);
            Writeln("EHLO vardomon.invalid");
            if (replyUntil(until, smtpLast).rfind("250", 0) != 0) {
                throw Refused("The server refused EHLO");
            }
            Writeln("STARTTLS");
            if (replyUntil(until, smtpLast).rfind("220", 0) != 0) {
                throw Refused("The server refused STARTTLS");
            }
            break;
        case TlsMode::StartTlsImap:
            greeting = replyUntil(until, anyLine);
            Writeln("v1 STARTTLS");
            if (replyUntil(until, untagged).rfind("v1 OK", 0) != 0) {
                throw Refused("The server refused STARTTLS");
            }
            break;
        case TlsMode::StartTlsPop3:
            greeting = replyUntil(until, anyLine);
            Writeln("STLS");
            if (replyUntil(until, anyLine).rfind("+OK", 0) != 0) {
                throw Refused("The server refused STLS");
            }
            break;
        case TlsMode::None:
        case TlsMode::Tls:
            break;
    }
}

TlsCheckResult TlsProbe::check(const ServerItem& item, const TlsSettings& tls, std::int32_t timeoutMs,
                               std::time_t now) {
    TlsCheckResult result;
    findings_ = CertificateFindings{};
    Host = cutAtNul(item.address);
    Port = item.tcpPort;
    TimeOut = timeoutMs;
    try {
        Connect();
    } catch (const std::exception& e) {
        result.reason = connectFailureReason(e.what());
        try {
            Disconnect();
        } catch (const std::exception&) {
        }
        return result;
    }
    std::unique_ptr<TlsChannel> channel;
    try {
        std::string greeting;
        askForTls(tls.mode, limit(), greeting);
        channel = std::make_unique<TlsChannel>(
            socketHandle(), TlsPeer{Host, tls.verify, tls.caFile},
            [this](short events, TimePoint until, const char* abortText) {
                if (!waitSocket(events, until)) {
                    throw ESocketAbort(abortText);
                }
            },
            [this](void* context) { watchCertificates(context, findings_); });
        try {
            channel->handshake(limit());
        } catch (const ETlsError& e) {
            result.certificateExpiry = findings_.earliestExpiry;
            throw Refused(findings_.verifyError != 0 ? verifyReason(findings_)
                                                     : "TLS handshake failed: " + tlsWords(e.what()));
        }
        result.certificateExpiry = findings_.earliestExpiry;
        if (findings_.earliestExpiry) {
            result.reason = expiryReason(*findings_.earliestExpiry, now, tls.warnDays);
        }
        const std::string expected = cutAtNul(item.recvText);
        if (result.reason.empty() && item.tcpType != TcpConnectOnly) {
            if (item.tcpType == TcpConnectSendReceive) {
                channel->write(cutAtNul(item.sendText), limit());
            }
            // After STARTTLS the server says nothing until asked: its greeting came before.
            std::string received =
                tls.mode != TlsMode::Tls && item.tcpType == TcpConnectReceive ? greeting : "";
            const TimePoint until = limit();
            while (received.size() < expected.size() && channel->read(received, until)) {
            }
            if (received.compare(0, expected.size(), expected) != 0) {
                result.reason = "Text not found in the response";
            }
        }
        result.ok = result.reason.empty();
    } catch (const ESocketAbort&) {
        result.reason = Canceled() && !TimedOut() ? "Cancelled" : "Timed out";
    } catch (const std::exception& e) {
        result.reason = e.what();
    }
    if (channel) {
        channel->close();
    }
    try {
        Disconnect();
    } catch (const std::exception&) {
    }
    return result;
}
