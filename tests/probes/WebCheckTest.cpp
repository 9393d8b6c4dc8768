// The web check against nginx on 127.0.0.1, with certificates made for each test: what passes,
// and the reason of every failure.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "core/CheckSettings.h"
#include "probes/WebCheck.h"
#include "support/LoopbackServer.h"
#include "support/NginxServer.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

using std::chrono::milliseconds;
constexpr std::time_t kDay = 24 * 60 * 60;

// Redirects /hop<n> to /hop<n-1> down to /hop0, which answers.
std::string hops() {
    std::string text = "location = /hop0 { return 200 \"arrived\"; }\n";
    for (int n = 1; n <= 6; ++n) {
        text +=
            "location = /hop" + std::to_string(n) + " { return 302 /hop" + std::to_string(n - 1) + "; }\n";
    }
    return text;
}

const std::string kSite =
    hops() +
    "location = /page { return 200 \"hello web page\"; }\n"
    "location = /down { return 503 \"maintenance\"; }\n"
    "location = /head { if ($request_method = HEAD) { return 204; } return 200 \"got\"; }\n";

struct Check {
    std::string url;
    std::string text;
    HostExtras extras;
};

WebCheckResult run(WebCheck& web, const Check& check, std::time_t now = std::time(nullptr)) {
    ServerItem item;
    item.tcpType = TcpHttpRequest;
    item.address = check.url;
    item.recvText = check.text;
    return web.run(item, check.extras, milliseconds(2000), now);
}

TEST(WebCheck, JudgesStatusTextAndMethod) {
    NginxServer nginx(kSite);
    WebCheck web;
    const struct {
        Check check;
        std::string reason;  // empty: passes
    } cases[] = {
        {{nginx.url("/page"), "web page", {}}, ""},
        {{nginx.url("/page"), "Web page", {}}, "Text not found in the response"},
        {{nginx.url("/page"), "web", {{"http.must_not_contain", "1"}}}, "Text found in the response"},
        {{nginx.url("/page"), "error", {{"http.must_not_contain", "1"}}}, ""},
        {{nginx.url("/down"), "", {}}, "HTTP status 503"},
        {{nginx.url("/down"), "maintenance", {{"http.status", "200-299,503"}}}, ""},
        {{nginx.url("/page"), "", {{"http.status", "201-299"}}}, "HTTP status 200"},
        {{nginx.url("/head"), "", {{"http.status", "204"}, {"http.method", "HEAD"}}}, ""},
        {{nginx.url("/head"), "", {{"http.status", "204"}}}, "HTTP status 200"},
        {{nginx.url("/page"), "", {{"http.status", "2xx"}}}, "The accepted status codes cannot be read: 2xx"},
    };
    for (const auto& c : cases) {
        const WebCheckResult result = run(web, c.check);
        EXPECT_EQ(result.ok, c.reason.empty()) << c.check.url << " " << c.check.text;
        EXPECT_EQ(result.reason, c.reason) << c.check.url << " " << c.check.text;
    }
}

TEST(WebCheck, FollowsFiveRedirectsAndFailsOnTheSixth) {
    NginxServer nginx(kSite);
    WebCheck web;
    EXPECT_TRUE(run(web, {nginx.url("/hop5"), "arrived", {}}).ok);
    EXPECT_EQ(run(web, {nginx.url("/hop6"), "", {}}).reason, "Too many redirects");
    // Without following, the redirect is the answer.
    EXPECT_EQ(run(web, {nginx.url("/hop1"), "", {{"http.redirects", "0"}, {"http.status", "200"}}}).reason,
              "HTTP status 302");
}

TEST(WebCheck, NamesEveryCertificateFault) {
    TestCertificates ca;
    const std::time_t now = std::time(nullptr);
    const std::time_t soon = now + 3 * kDay - 60;
    NginxServer good(kSite, ca.server("DNS:localhost,IP:127.0.0.1", now + 60 * kDay));
    NginxServer otherName(kSite, ca.server("DNS:other.example", now + 60 * kDay));
    NginxServer expired(kSite, ca.server("DNS:localhost", now - 2 * kDay));
    NginxServer expiring(kSite, ca.server("DNS:localhost", soon));
    const HostExtras trusted{{"tls.ca_file", ca.caFile()}};
    WebCheck web;

    const WebCheckResult ok = run(web, {good.url("/page", "localhost"), "hello", trusted}, now);
    EXPECT_TRUE(ok.ok) << ok.reason;
    EXPECT_EQ(ok.certificateExpiry, now + 60 * kDay);
    EXPECT_EQ(run(web, {good.url("/page"), "hello", trusted}, now).reason, "");

    const WebCheckResult strange = run(web, {good.url("/page", "localhost"), "", {}}, now);
    EXPECT_EQ(strange.reason.rfind("Certificate not trusted: ", 0), 0U) << strange.reason;
    EXPECT_GT(strange.reason.size(), std::string("Certificate not trusted: ").size());
    EXPECT_TRUE(run(web, {good.url("/page", "localhost"), "", {{"tls.verify", "0"}}}, now).ok);

    EXPECT_EQ(run(web, {otherName.url("/page", "localhost"), "", trusted}, now).reason,
              "Certificate name mismatch");
    EXPECT_EQ(run(web, {expired.url("/page", "localhost"), "", trusted}, now).reason,
              "Certificate expired on " + utcDate(now - 2 * kDay));

    const std::string date = utcDate(soon);
    EXPECT_EQ(run(web, {expiring.url("/page", "localhost"), "", trusted}, now).reason,
              "Certificate expires in 2 days (" + date + ")");
    HostExtras warnTwo = trusted;
    warnTwo["tls.warn_days"] = "2";
    EXPECT_TRUE(run(web, {expiring.url("/page", "localhost"), "", warnTwo}, now).ok);
    // The reused connection makes no new handshake; its certificate still counts.
    EXPECT_EQ(run(web, {expiring.url("/page", "localhost"), "", trusted}, now).reason,
              "Certificate expires in 2 days (" + date + ")");
}

// The system's store is the hashed folder OpenSSL names (SSL_CERT_DIR overrides it).
TEST(WebCheck, TrustsTheSystemsAuthorities) {
    TestCertificates ca;
    NginxServer nginx(kSite, ca.server("DNS:localhost", std::time(nullptr) + 60 * kDay));
    TempDir store;
    writeFileBytes(store.file("test-ca.pem"), readFileBytes(ca.caFile()));
    SpawnedProcess rehash({"openssl", "rehash", store.path()});
    ASSERT_EQ(rehash.waitForExit(std::chrono::seconds(10)), 0);
    ASSERT_EQ(::setenv("SSL_CERT_DIR", store.path().c_str(), 1), 0);
    WebCheck web;
    const WebCheckResult result = run(web, {nginx.url("/page", "localhost"), "hello", {}});
    ::unsetenv("SSL_CERT_DIR");
    EXPECT_TRUE(result.ok) << result.reason;
}

TEST(WebCheck, ARefusedAndASilentPortAndACancelFailWithTheirReason) {
    WebCheck web;
    RefusingPort refusing;
    EXPECT_EQ(run(web, {"http://127.0.0.1:" + std::to_string(refusing.port()) + "/", "", {}}).reason,
              "Connection refused");

    FullBacklogListener silent;
    ServerItem item;
    item.address = "http://127.0.0.1:" + std::to_string(silent.port()) + "/";
    const auto started = std::chrono::steady_clock::now();
    const WebCheckResult timedOut = web.run(item, {}, milliseconds(300), std::time(nullptr));
    EXPECT_EQ(timedOut.reason, "Timed out");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    LoopbackServer hanging([](PeerConnection& peer) { peer.holdOpen(); });
    item.address = "http://127.0.0.1:" + std::to_string(hanging.port()) + "/";
    auto pending = std::async(std::launch::async, [&] { return web.run(item, {}, milliseconds(20000), 0); });
    std::this_thread::sleep_for(milliseconds(200));
    web.cancel();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(pending.get().ok);
}

TEST(CheckSettings, KeepOnlyWhatDiffersFromTheDefaults) {
    HostExtras extras{{"other.key", "kept"}, {"http.method", "HEAD"}};
    HttpSettings http = httpSettingsOf(extras);
    EXPECT_EQ(http.method, "HEAD");
    http.method = "GET";
    http.status = "200-299,301";
    storeHttpSettings(extras, http);
    TlsSettings tls;
    tls.mode = TlsMode::StartTlsSmtp;
    storeTlsSettings(extras, tls);
    EXPECT_EQ(
        extras,
        (HostExtras{{"other.key", "kept"}, {"http.status", "200-299,301"}, {"tls.mode", "starttls-smtp"}}));
    EXPECT_EQ(tlsSettingsOf(extras).mode, TlsMode::StartTlsSmtp);
    EXPECT_EQ(headerLines("A: 1\r\n\r\nB: 2\rX-Injected: 3\nC: 3"),
              (std::vector<std::string>{"A: 1", "C: 3"}));
}

}  // namespace
