// The TCP checks inside TLS: STARTTLS against aiosmtpd, TLS from the first byte against
// aiosmtpd and "openssl s_server", with certificates made for each test.
#include <gtest/gtest.h>

#include <regex>

#include "probes/TlsProbe.h"
#include "support/AiosmtpdServer.h"
#include "support/SpawnedProcess.h"
#include "support/TestCertificates.h"

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

// "openssl s_server -www" on 127.0.0.1: answers "GET /" inside TLS with a status page.
class TlsListener {
  public:
    explicit TlsListener(const TestCertificates::Server& cert)
        : process_({"openssl", "s_server", "-www", "-accept", "127.0.0.1:0", "-cert", cert.certFile, "-key",
                    cert.keyFile},
                   {}, dir_.file("out")) {
        const std::regex accept("ACCEPT 127\\.0\\.0\\.1:([0-9]+)");
        std::smatch m;
        waitUntil([&] {
            const std::string out = readFileBytes(dir_.file("out"));
            if (std::regex_search(out, m, accept)) {
                port_ = std::stoi(m[1]);
            }
            return port_ != 0;
        });
    }
    int port() const { return port_; }

  private:
    TempDir dir_;
    SpawnedProcess process_;
    int port_ = 0;
};

ServerItem host(const std::string& address, int port, std::int8_t tcpType, const std::string& recv,
                const std::string& send = "") {
    ServerItem item;
    item.address = address;
    item.tcpPort = port;
    item.tcpType = tcpType;
    item.recvText = recv;
    item.sendText = send;
    return item;
}

class TlsProbeTest : public ::testing::Test {
  protected:
    TlsSettings settings(TlsMode mode, bool trusted = true, int warnDays = 14) {
        TlsSettings s;
        s.mode = mode;
        s.caFile = trusted ? ca.caFile() : "";
        s.warnDays = warnDays;
        return s;
    }
    AiosmtpdServer::Options mailServer(const std::string& security, std::time_t notAfter) {
        const TestCertificates::Server cert = ca.server("DNS:localhost", notAfter);
        AiosmtpdServer::Options o;
        o.security = security;
        o.certFile = cert.certFile;
        o.keyFile = cert.keyFile;
        return o;
    }

    TestCertificates ca;
    const std::time_t now = std::time(nullptr);
    TlsProbe probe;
};

TEST_F(TlsProbeTest, StartTlsOnSmtpVerifiesAndChecksInsideTls) {
    AiosmtpdServer server(mailServer("starttls", now + 60 * kDay));
    const TlsSettings starttls = settings(TlsMode::StartTlsSmtp);
    TlsCheckResult r =
        probe.check(host("localhost", server.port(), TcpConnectReceive, "220 "), starttls, 5000, now);
    EXPECT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(r.certificateExpiry, now + 60 * kDay);
    r = probe.check(host("localhost", server.port(), TcpConnectSendReceive, "250-", "EHLO inside\r\n"),
                    starttls, 5000, now);
    EXPECT_TRUE(r.ok) << r.reason;
    r = probe.check(host("localhost", server.port(), TcpConnectSendReceive, "599", "EHLO inside\r\n"),
                    starttls, 5000, now);
    EXPECT_EQ(r.reason, "Text not found in the response");

    r = probe.check(host("localhost", server.port(), TcpConnectOnly, ""),
                    settings(TlsMode::StartTlsSmtp, false), 5000, now);
    EXPECT_EQ(r.reason, "Certificate not trusted: unable to get local issuer certificate");
    EXPECT_EQ(r.certificateExpiry, now + 60 * kDay);
    r = probe.check(host("localhost", server.port(), TcpConnectOnly, ""),
                    settings(TlsMode::StartTlsSmtp, true, 90), 5000, now);
    EXPECT_EQ(r.reason, "Certificate expires in 60 days (" + utcDate(now + 60 * kDay) + ")");
    // The plain dialogue of another protocol is refused by an SMTP server.
    r = probe.check(host("localhost", server.port(), TcpConnectOnly, ""), settings(TlsMode::StartTlsPop3),
                    5000, now);
    EXPECT_FALSE(r.ok);
}

TEST_F(TlsProbeTest, TlsFromTheFirstByteChecksTheNameAndTheGreeting) {
    AiosmtpdServer server(mailServer("tls", now + 30 * kDay));
    const TlsSettings tls = settings(TlsMode::Tls);
    TlsCheckResult r =
        probe.check(host("localhost", server.port(), TcpConnectReceive, "220 "), tls, 5000, now);
    EXPECT_TRUE(r.ok) << r.reason;
    r = probe.check(host("127.0.0.1", server.port(), TcpConnectOnly, ""), tls, 5000, now);
    EXPECT_EQ(r.reason, "Certificate name mismatch");
    TlsSettings unverified = tls;
    unverified.verify = false;
    EXPECT_TRUE(probe.check(host("127.0.0.1", server.port(), TcpConnectOnly, ""), unverified, 5000, now).ok);
}

TEST_F(TlsProbeTest, AnOpensslListenerAnswersInsideTlsAndAnExpiredCertificateFails) {
    TlsListener listener(ca.server("DNS:localhost,IP:127.0.0.1", now + 30 * kDay));
    ASSERT_NE(listener.port(), 0);
    const TlsSettings tls = settings(TlsMode::Tls);
    TlsCheckResult r = probe.check(host("127.0.0.1", listener.port(), TcpConnectSendReceive,
                                        "HTTP/1.0 200 ok", "GET / HTTP/1.0\r\n\r\n"),
                                   tls, 5000, now);
    EXPECT_TRUE(r.ok) << r.reason;

    TlsListener expired(ca.server("DNS:localhost", now - 3 * kDay));
    ASSERT_NE(expired.port(), 0);
    r = probe.check(host("localhost", expired.port(), TcpConnectOnly, ""), tls, 5000, now);
    EXPECT_EQ(r.reason, "Certificate expired on " + utcDate(now - 3 * kDay));
}

}  // namespace
