// The exposition as a scraper reads it, after a cycle of the real check code over hosts with
// awkward names, and the HTTP server's answers and limits.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "metrics/Exposition.h"
#include "metrics/MetricsServer.h"
#include "metrics/MetricsView.h"
#include "support/HttpFetch.h"
#include "support/MonitorFakes.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

ServerItem host(std::string name, std::int8_t type = HostTcpIp) {
    ServerItem it;
    it.name = std::move(name);
    it.address = "127.0.0.1";
    it.type = type;
    return it;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Exposition, AwkwardNamesMakeValidSeriesAndTheCycleIsTimed) {
    ServerDoc doc;
    doc.append(host("say \"hi\" \\ to\r\nall"));
    doc.append(host("M\xFCller \x80"));  // Windows-1252, as older documents hold it
    doc.append(host("Z\xC3\xBCrich", HostPing));
    doc.append(host("twin", HostService));
    doc.append(host("twin", HostService));
    doc.append(host("odd type", 7));
    ServerItem web = host("shop");
    web.tcpType = TcpHttpRequest;
    web.address = "https://shop.example/health?a=1";
    doc.append(web);
    Journal journal;
    FakeProbes probes(journal);
    RecordingAlerts alerts(journal);
    FakeClock clock(journal);
    probes.quiet = alerts.quiet = clock.quiet = true;
    probes.scriptTcp({true, false});
    probes.webCertificateExpiry = 1800000000;
    // Every check takes a quarter of a second.
    probes.duringProbe = [&] { clock.steadyMs += 250; };
    LiveConfig cfg;
    MonitorFlags flags;
    MetricsView view(doc, clock);
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};

    view.cycleStarted();
    for (std::size_t i = 0; i < doc.count(); ++i) {
        checkHost(ctx, i);
    }
    view.refreshHostRows();
    // The next cycle has begun: the first host is being checked.
    view.cycleStarted();
    view.markRowChecking(0);
    MetricsSnapshot snapshot = view.snapshot();
    snapshot.quiet = {{}, {.muted = true, .suppressed = true}};
    const std::string text = renderExposition(snapshot, true);

    const std::string first = R"({name="say \"hi\" \\ to)"
                              "\r"
                              R"(\nall",address="127.0.0.1",type="tcp"} )";
    EXPECT_TRUE(contains(text, "vardomon_host_status" + first + "2\n")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_good_checks_total" + first + "1\n")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_last_check_duration_seconds" + first + "0.250\n")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_last_check_timestamp_seconds" + first + "1700000000\n"))
        << text;
    // Down: more consecutive failures than the none it allows.
    EXPECT_TRUE(contains(
        text, "vardomon_host_up{name=\"M\xC3\xBCller \xE2\x82\xAC\",address=\"127.0.0.1\",type=\"tcp\"} 0\n"))
        << text;
    EXPECT_TRUE(
        contains(text, "vardomon_host_up{name=\"Z\xC3\xBCrich\",address=\"127.0.0.1\",type=\"ping\"} 1\n"))
        << text;
    EXPECT_TRUE(contains(text, R"(vardomon_host_up{name="twin",address="127.0.0.1",type="service"} 1)"));
    EXPECT_TRUE(contains(
        text, R"(vardomon_host_up{name="twin",address="127.0.0.1",type="service",duplicate="2"} 1)"));
    EXPECT_TRUE(
        contains(text, R"(vardomon_host_status{name="odd type",address="127.0.0.1",type="service"} 1)"));
    // Quiet states only for the hosts that have them; 0 for the rest.
    const std::string second = "{name=\"M\xC3\xBCller \xE2\x82\xAC\",address=\"127.0.0.1\",type=\"tcp\"} ";
    EXPECT_TRUE(contains(text, "vardomon_host_muted" + second + "1\nvardomon_host_muted{name=\"Z")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_flapping" + second + "0\n")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_suppressed" + second + "1\n")) << text;
    EXPECT_TRUE(
        contains(text, R"(vardomon_host_muted{name="odd type",address="127.0.0.1",type="service"} 0)"));
    EXPECT_TRUE(contains(text,
                         "vardomon_host_certificate_expiry_timestamp_seconds{name=\"shop\",address=\"https://"
                         "shop.example/health?a=1\",type=\"http\"} 1800000000\n"))
        << text;
    EXPECT_FALSE(contains(text, "vardomon_host_certificate_expiry_timestamp_seconds{name=\"say")) << text;
    EXPECT_TRUE(contains(text, "\nvardomon_cycle_duration_seconds 1.750\n")) << text;
    EXPECT_TRUE(contains(text, "\nvardomon_monitor_running 1\n")) << text;

    // A result that waited its turn behind slower checks: the duration is its probe's.
    view.markRowChecking(2);
    clock.steadyMs += 5000;
    view.checkTook(2, std::chrono::milliseconds(250));
    view.showRowCounts(2, *doc.at(2));
    EXPECT_TRUE(
        contains(renderExposition(view.snapshot(), true),
                 "vardomon_host_last_check_duration_seconds{name=\"Z\xC3\xBCrich\",address=\"127.0.0.1\","
                 "type=\"ping\"} 0.250\n"));

    if (!std::filesystem::exists("/usr/bin/promtool")) {
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
    }
    TempDir dir;
    writeFileBytes(dir.file("metrics.txt"), text);
    SpawnedProcess check({"/bin/sh", "-c", "promtool check metrics < '" + dir.file("metrics.txt") + "'"}, {},
                         dir.file("promtool.txt"));
    EXPECT_EQ(check.waitForExit(std::chrono::seconds(30)), 0) << readFileBytes(dir.file("promtool.txt"));
    EXPECT_EQ(readFileBytes(dir.file("promtool.txt")), "");
}

TEST(Exposition, CountersNeverGoBackWhenTheDocumentDoes) {
    ServerDoc doc;
    ServerItem checked = host("a");
    checked.goodCount = 10;
    doc.append(checked);
    Journal journal;
    FakeClock clock(journal);
    clock.quiet = true;
    MetricsView view(doc, clock);
    checked.goodCount = 11;
    checked.status = StatusSuccess;
    view.markRowChecking(0);
    view.showRowCounts(0, checked);
    // An older document is read again: its counts are lower.
    ServerItem older = host("a");
    older.goodCount = 3;
    doc.reset();
    doc.append(older);
    view.refreshAllRows();
    const std::string text = renderExposition(view.snapshot(), true);
    const std::string labels = R"({name="a",address="127.0.0.1",type="tcp"} )";
    EXPECT_TRUE(contains(text, "vardomon_host_good_checks_total" + labels + "1\n")) << text;
    EXPECT_TRUE(contains(text, "vardomon_host_document_good_checks" + labels + "3\n")) << text;
}

TEST(MetricsServer, AnswersOnlyGetWithinItsLimits) {
    ServerLimits limits;
    limits.headBytes = 1024;
    limits.headTime = std::chrono::milliseconds(300);
    MetricsServer server([] { return std::string("vardomon_monitor_running 1\n"); }, limits);
    ASSERT_TRUE(server.start(*parseListenAddress("127.0.0.1:0"))) << server.error();
    const std::uint16_t port = server.address().port;

    // The end of the head may come in a piece of its own.
    const std::string ok = httpExchange(port, {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r", "\n"});
    EXPECT_TRUE(ok.starts_with("HTTP/1.1 200 OK\r\n")) << ok;
    EXPECT_TRUE(contains(ok, "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n")) << ok;
    EXPECT_EQ(httpBody(ok), "vardomon_monitor_running 1\n");
    EXPECT_TRUE(contains(httpBody(httpGet(port, "/")), "<a href=\"/metrics\">")) << httpGet(port, "/");
    EXPECT_TRUE(httpGet(port, "/other").starts_with("HTTP/1.1 404 ")) << httpGet(port, "/other");
    const std::string post = httpExchange(port, {"POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nab"});
    EXPECT_TRUE(post.starts_with("HTTP/1.1 405 ")) << post;
    EXPECT_TRUE(contains(post, "\r\nAllow: GET\r\n")) << post;

    // A head past the limit is refused however it goes on; one that does not come in time
    // is cut off.
    const std::string large = httpExchange(port, {"GET /metrics HTTP/1.1\r\nX: " + std::string(4000, 'a')});
    EXPECT_TRUE(large.starts_with("HTTP/1.1 431 ")) << large;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(httpExchange(port, {"GET /metrics HTTP/1.1\r\n"}), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(httpGet(port, "/metrics").starts_with("HTTP/1.1 200 OK\r\n"));

    // A taken address is refused with the reason.
    MetricsServer second([] { return std::string(); });
    EXPECT_FALSE(second.start(server.address()));
    EXPECT_EQ(second.error(), "127.0.0.1:" + std::to_string(port) + ": Address already in use");
}

// A client that connects, sends what it is given (maybe nothing) and then neither sends nor
// reads another byte.
int quietClient(std::uint16_t port, const std::string& sends) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::send(fd, sends.data(), sends.size(), MSG_NOSIGNAL);
    return fd;
}

TEST(MetricsServer, QuietClientsCannotKeepAScrapeWaiting) {
    const std::string large(4 << 20, 'x');
    MetricsServer server([&] { return large; });
    ASSERT_TRUE(server.start(*parseListenAddress("127.0.0.1:0"))) << server.error();
    std::vector<int> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(
            quietClient(server.address().port, i % 4 == 0 ? "GET /metrics HTTP/1.1\r\n\r\n" : ""));
    }
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(httpGet(server.address().port, "/metrics").starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    for (const int fd : clients) {
        ::close(fd);
    }
}

TEST(MetricsServer, NeverCompressesWithBrotliAndGzipsTenThousandHostsSoon) {
    ServerDoc doc;
    for (int i = 0; i < 10000; ++i) {
        doc.append(host("host " + std::to_string(i)));
    }
    Journal journal;
    FakeClock clock(journal);
    MetricsView view(doc, clock);
    const std::string text = renderExposition(view.snapshot(), true);
    MetricsServer server([&] { return text; });
    ASSERT_TRUE(server.start(*parseListenAddress("127.0.0.1:0"))) << server.error();
    for (const auto& [offered, used] : {std::pair{"br", ""}, std::pair{"gzip, deflate, br", "gzip"}}) {
        const auto started = std::chrono::steady_clock::now();
        const std::string answer =
            httpExchange(server.address().port,
                         {std::string("GET /metrics HTTP/1.1\r\nAccept-Encoding: ") + offered + "\r\n\r\n"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << offered;
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << offered;
        EXPECT_EQ(contains(answer, "\r\nContent-Encoding: "), *used != '\0') << offered;
        EXPECT_TRUE(*used == '\0' || contains(answer, std::string("\r\nContent-Encoding: ") + used + "\r\n"));
    }
}

TEST(MetricsServer, AnswersRequestsWhoseLinesEndInABareLineFeed) {
    MetricsServer server([] { return std::string("vardomon_monitor_running 1\n"); });
    ASSERT_TRUE(server.start(*parseListenAddress("127.0.0.1:0"))) << server.error();
    const std::string ok = httpExchange(server.address().port, {"GET /metrics HTTP/1.1\nHost: x\n\n"});
    EXPECT_TRUE(ok.starts_with("HTTP/1.1 200 OK\r\n")) << ok;
    EXPECT_EQ(httpBody(ok), "vardomon_monitor_running 1\n");
}

}  // namespace
