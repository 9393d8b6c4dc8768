// vardomond as an administrator meets it: one cycle with its exit status, event lines and
// saved counts; the files it refuses; SIGHUP and SIGTERM; and a real Prometheus server that
// scrapes it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include "core/Vardo.h"
#include "support/AiosmtpdServer.h"
#include "support/HttpFetch.h"
#include "support/HttpReceiver.h"
#include "support/LoopbackServer.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

ServerItem tcpHost(const std::string& name, std::uint16_t port) {
    ServerItem it;
    it.name = name;
    it.address = "127.0.0.1";
    it.tcpPort = port;
    return it;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DaemonTest : public ::testing::Test {
  protected:
    void writeDocument(const std::vector<ServerItem>& items) {
        ServerDoc d;
        for (const ServerItem& i : items) {
            d.append(i);
        }
        d.fileName = docPath;
        ASSERT_TRUE(d.save());
    }
    std::vector<ServerItem> savedHosts() const {
        ServerDoc d;
        return d.load(docPath) ? d.items() : std::vector<ServerItem>{};
    }
    std::unique_ptr<SpawnedProcess> start(std::vector<std::string> args) {
        args.insert(args.begin(), {VARDOMOND, "--config", dir.path()});
        args.push_back(docPath);
        return std::make_unique<SpawnedProcess>(args, std::vector<std::string>{}, outPath);
    }
    // The port of the metrics the daemon says it serves, once it has said so.
    std::uint16_t announcedMetricsPort() const {
        std::smatch found;
        std::string text;
        const bool said = waitUntil([&] {
            text = output();
            return std::regex_search(text, found,
                                     std::regex(R"(metrics on http://127\.0\.0\.1:(\d+)/metrics)"));
        });
        EXPECT_TRUE(said) << text;
        return said ? static_cast<std::uint16_t>(std::stoi(found[1].str())) : 0;
    }
    // Standard output and error together; the program's own messages begin "vardomond: ".
    std::string output() const { return readFileBytes(outPath); }
    std::vector<std::string> eventLines() const {
        std::vector<std::string> lines;
        const std::string text = output();
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            if (text.compare(at, 11, "vardomond: ") != 0) {
                lines.push_back(text.substr(at, end - at));
            }
        }
        return lines;
    }

    TempDir dir;
    std::string docPath = dir.file("hosts.vdm");
    std::string outPath = dir.file("out.txt");
};

TEST_F(DaemonTest, OnceChecksEveryHostLogsTheEventsAndSavesTheCounts) {
    LoopbackServer up(LoopbackServer::closing());
    RefusingPort closed;
    writeDocument({tcpHost("up", up.port()), tcpHost("closed", closed.port())});
    EXPECT_EQ(start({"--once", "--log", "-"})->waitForExit(30s), 1) << output();
    const std::vector<std::string> lines = eventLines();
    ASSERT_EQ(lines.size(), 2u) << output();
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}: )"
                                              R"(Server Down: closed)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"([A-Z][^\n]*: Reason: closed: Connection refused)")))
        << lines[1];
    const std::vector<ServerItem> hosts = savedHosts();
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(std::tie(hosts[0].goodCount, hosts[0].badCount, hosts[0].status), std::tuple(1, 0, 1));
    EXPECT_EQ(std::tie(hosts[1].goodCount, hosts[1].badCount, hosts[1].consecutiveFailures, hosts[1].status),
              std::tuple(0, 1, 1, 0));

    writeDocument({tcpHost("up", up.port())});
    EXPECT_EQ(start({"--once"})->waitForExit(30s), 0) << output();
    EXPECT_EQ(savedHosts().at(0).goodCount, 1);
}

TEST_F(DaemonTest, ADocumentWithDamagedExtendedSettingsIsCheckedButNeverSavedOver) {
    LoopbackServer up(LoopbackServer::closing());
    ServerDoc d;
    d.append(tcpHost("up", up.port()), {{"parents", "router"}});
    d.fileName = docPath;
    ASSERT_TRUE(d.save());
    std::string bytes = readFileBytes(docPath);
    bytes.back() ^= 1;
    writeFileBytes(docPath, bytes);
    EXPECT_NE(start({"--once"})->waitForExit(30s), 2) << output();
    EXPECT_TRUE(contains(output(), kExtrasDamaged)) << output();
    EXPECT_EQ(readFileBytes(docPath), bytes);
}

TEST_F(DaemonTest, ALowDescriptorLimitCutsTheChecksAtOnceAndNoCheckFailsForWantOfOne) {
    LoopbackServer up(LoopbackServer::closing());
    writeFileBytes(dir.file("settings.toml"), "[monitor]\nchecks_at_once = 256\n");
    writeDocument(std::vector<ServerItem>(600, tcpHost("up", up.port())));
    SpawnedProcess daemon(
        {"prlimit", "--nofile=1024:1024", VARDOMOND, "--config", dir.path(), "--once", "--log", "-", docPath},
        {}, outPath);
    ASSERT_EQ(daemon.waitForExit(120s), 0);
    const std::string says = output();
    EXPECT_FALSE(contains(says, "Server Down")) << says;
    EXPECT_TRUE(contains(says, "checks at once instead of 256")) << says;
}

TEST_F(DaemonTest, TestMailNeedsNoDocumentAndTellsTheOutcome) {
    AiosmtpdServer mailServer;
    ServerCfg cfg;
    cfg.fileName = dir.file("vardo.cfg");
    cfg.mailServer = "127.0.0.1";
    cfg.fromAddress = "vardo@test.example";
    ASSERT_TRUE(cfg.save());
    writeFileBytes(dir.file("settings.toml"), "[mail]\nport = " + std::to_string(mailServer.port()) + "\n");
    auto run = [&] {
        return SpawnedProcess({VARDOMOND, "--config", dir.path(), "--test-mail", "ops@test.example"}, {},
                              outPath)
            .waitForExit(90s);
    };
    EXPECT_EQ(run(), 0) << output();
    EXPECT_TRUE(output().starts_with("vardomond: the test mail was sent: ")) << output();
    ASSERT_EQ(mailServer.delivered(), 1);
    EXPECT_TRUE(contains(mailServer.mail(0), "RCPT ops@test.example\n")) << mailServer.mail(0);
    EXPECT_TRUE(contains(mailServer.mail(0), "Subject: Kestrune Vardomon test mail\r\n"))
        << mailServer.mail(0);

    RefusingPort closed;
    writeFileBytes(dir.file("settings.toml"), "[mail]\nport = " + std::to_string(closed.port()) + "\n");
    EXPECT_EQ(run(), 1) << output();
    EXPECT_TRUE(output().starts_with("vardomond: the test mail was not sent: ")) << output();
}

TEST_F(DaemonTest, TestNotifyTriesOneChannelOnceAndTellsTheOutcome) {
    HttpReceiver receiver({204, 401});
    writeFileBytes(dir.file("settings.toml"), "[[channels]]\nname = \"hook\"\nkind = \"webhook\"\nurl = \"" +
                                                  receiver.url("/in") +
                                                  "\"\nheaders = { \"X-Team\" = \"ops\" }\n"
                                                  "[[channels]]\nname = \"pager\"\nkind = \"gotify\"\n");
    auto run = [&](const std::string& name) {
        return SpawnedProcess({VARDOMOND, "--config", dir.path(), "--test-notify", name}, {}, outPath)
            .waitForExit(30s);
    };
    EXPECT_EQ(run("hook"), 0) << output();
    ASSERT_EQ(receiver.requests().size(), 1U);
    EXPECT_EQ(receiver.requests()[0].header("X-Team"), "ops");
    EXPECT_TRUE(receiver.requests()[0].body.starts_with(R"({"event":"test",)")) << receiver.requests()[0].body;
    EXPECT_TRUE(contains(receiver.requests()[0].body, R"("host":null,"consecutive_failures":0})"));

    EXPECT_EQ(run("hook"), 1) << output();
    EXPECT_EQ(receiver.requests().size(), 2U);
    EXPECT_EQ(output(), "vardomond: The test notification to hook failed: HTTP 401 Unauthorized\n");

    EXPECT_EQ(run("pager"), 2) << output();
    EXPECT_TRUE(contains(output(), "settings.toml line 6: [[channels]] \"pager\": url must be")) << output();
    EXPECT_EQ(run("nobody"), 2) << output();
}

TEST_F(DaemonTest, UnusableFilesEndItWithStatusTwoAndSayWhy) {
    const std::string cfg = dir.file("vardo.cfg");
    const std::string settings = dir.file("settings.toml");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] {}, "vardomond: Failed to open file: " + docPath + ": Failed to open file for reading.\n"},
        {[&] { writeFileBytes(docPath, "not a host list"); },
         "vardomond: Failed to open file: " + docPath +
             ": This file does not appear to be a Vardomon document.\n"},
        {[&] {
             writeDocument({});
             writeFileBytes(cfg, "not settings");
         },
         "vardomond: " + cfg + ": This file does not appear to be a Vardomon config file.\n"},
        {[&] {
             std::filesystem::remove(cfg);
             writeFileBytes(settings, "[metrics]\nlisten = 9469\n");
         },
         "vardomond: " + settings + " line 2: listen must be a text in double quotes\n"},
    };
    for (const auto& [prepare, says] : cases) {
        prepare();
        EXPECT_EQ(start({"--once"})->waitForExit(30s), 2) << says;
        EXPECT_EQ(output(), says);
    }
}

TEST_F(DaemonTest, SighupReadsTheDocumentAgainAndSigtermCutsAWaitingCheckShort) {
    LoopbackServer up(LoopbackServer::closing());
    RefusingPort closed;
    FullBacklogListener silent;
    ServerCfg cfg;
    cfg.fileName = dir.file("vardo.cfg");
    cfg.connectTimeout = 20000;
    ASSERT_TRUE(cfg.save());
    writeDocument({tcpHost("alpha", up.port())});
    auto daemon = start({"--interval", "1", "--log", "-"});
    // The counts of the first cycle reach the file.
    ASSERT_TRUE(waitUntil([&] {
        const std::vector<ServerItem> h = savedHosts();
        return h.size() == 1 && h[0].goodCount > 0;
    })) << output();

    std::vector<ServerItem> hosts = savedHosts();
    hosts.push_back(tcpHost("beta", closed.port()));
    hosts.push_back(tcpHost("gamma", silent.port()));
    writeDocument(hosts);
    ::kill(daemon->pid(), SIGHUP);
    ASSERT_TRUE(waitUntil([&] { return contains(output(), ": Server Down: beta\n"); })) << output();
    // gamma's connect has begun and waits for an answer that never comes.
    std::this_thread::sleep_for(300ms);
    const auto sent = std::chrono::steady_clock::now();
    ::kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->waitForExit(10s), 0) << output();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2100ms);
    EXPECT_FALSE(contains(output(), "gamma")) << output();
    hosts = savedHosts();
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[1].badCount, 1);
    EXPECT_EQ(std::tie(hosts[2].goodCount, hosts[2].badCount), std::tuple(0, 0));
}

TEST_F(DaemonTest, AnOutsideWriteWinsTheSavesGoOnAndAFinalSaveThatFailsEndsWithStatusOne) {
    LoopbackServer up(LoopbackServer::closing());
    writeDocument({tcpHost("alpha", up.port())});
    auto daemon = start({"--interval", "1"});
    std::vector<ServerItem> h;
    ASSERT_TRUE(waitUntil([&] { return (h = savedHosts()).size() == 1 && h[0].goodCount > 0; })) << output();
    ServerItem edited = tcpHost("alpha", up.port());
    edited.goodCount = 100;
    writeDocument({edited, tcpHost("beta", up.port())});
    EXPECT_TRUE(waitUntil([&] {
        return (h = savedHosts()).size() == 2 && h[0].goodCount > 100 && h[1].goodCount > 0;
    })) << output();

    std::filesystem::permissions(docPath, std::filesystem::perms::owner_read);
    ASSERT_TRUE(waitUntil([&] { return contains(output(), "vardomond: Failed to save file: "); }))
        << output();
    ::kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->waitForExit(10s), 1) << output();
    EXPECT_TRUE(contains(output(), ": Failed to open file for writing. (Permission denied)\n")) << output();
}

TEST_F(DaemonTest, TheJournalGetsThePriorityOfALine) {
    RefusingPort closed;
    writeDocument({tcpHost("closed", closed.port())});
    writeFileBytes(outPath, "");
    struct stat st {};
    ASSERT_EQ(::stat(outPath.c_str(), &st), 0);
    const std::string stream =
        "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    SpawnedProcess once({VARDOMOND, "--config", dir.path(), "--once", "--log", "-", docPath}, {stream},
                        outPath);
    EXPECT_EQ(once.waitForExit(30s), 1) << output();
    EXPECT_TRUE(std::regex_match(
        output(),
        std::regex(
            R"(<4>[A-Z][^\n]*: Server Down: closed\n<4>[A-Z][^\n]*: Reason: closed: Connection refused\n)")))
        << output();
}

TEST_F(DaemonTest, EveryInstanceOfTheUnitHasFoldersOfItsOwn) {
    if (!std::filesystem::exists("/usr/bin/systemd-analyze")) {
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    }
    std::string unit = readFileBytes(VARDOMOND_UNIT);
    unit.replace(unit.find("@VARDOMOND@"), 11, VARDOMOND);
    for (const char* key : {"StateDirectory=", "LogsDirectory=", "ConfigurationDirectory="}) {
        EXPECT_TRUE(contains(unit, std::string("\n") + key + "kestrune-vardomon/%i\n")) << key;
    }
    EXPECT_TRUE(contains(unit, " ${STATE_DIRECTORY}/%i.vdm\n"));
    writeFileBytes(dir.file("vardomond@one.service"), unit);
    writeFileBytes(dir.file("vardomond@two.service"), unit);
    SpawnedProcess verify(
        {"systemd-analyze", "verify", dir.file("vardomond@one.service"), dir.file("vardomond@two.service")},
        {}, outPath);
    EXPECT_EQ(verify.waitForExit(60s), 0) << output();
    EXPECT_EQ(output(), "");
}

TEST_F(DaemonTest, ScrapesDuringReloadsAlwaysSeeEveryHost) {
    RefusingPort closed;
    std::vector<ServerItem> hosts;
    for (int i = 0; i < 3000; ++i) {
        hosts.push_back(tcpHost("host " + std::to_string(i), closed.port()));
    }
    writeDocument(hosts);
    writeFileBytes(dir.file("settings.toml"), "[monitor]\nchecks_at_once = 64\n");
    auto daemon = start({"--interval", "3600", "--metrics-listen", "127.0.0.1:0"});
    const std::uint16_t port = announcedMetricsPort();
    ASSERT_NE(port, 0);
    std::atomic<bool> reloading{true};
    std::atomic<int> scrapes{0};
    std::atomic<int> empty{0};
    std::vector<std::jthread> scrapers;
    for (int i = 0; i < 4; ++i) {
        scrapers.emplace_back([&] {
            while (reloading) {
                ++scrapes;
                empty += contains(httpGet(port, "/metrics"), "\nvardomon_host_up{name=\"host 2999\"") ? 0 : 1;
            }
        });
    }
    for (int reload = 1; reload <= 8; ++reload) {
        ::kill(daemon->pid(), SIGHUP);
        // A line for each reload after the one of the address.
        EXPECT_TRUE(waitUntil([&] { return std::ranges::count(output(), '\n') > reload; })) << output();
    }
    // A document that cannot be read changes nothing.
    writeFileBytes(docPath, "not a host list");
    ::kill(daemon->pid(), SIGHUP);
    EXPECT_TRUE(waitUntil([&] {
        return contains(output(), "vardomond: nothing was read again, monitoring goes on as before: " +
                                      docPath + ": This file does not appear to be a Vardomon document.\n");
    })) << output();
    reloading = false;
    scrapers.clear();
    EXPECT_EQ(empty, 0) << "of " << scrapes;
}

// A port that was free a moment ago.
std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string urlEncoded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        }
    }
    return out;
}

TEST_F(DaemonTest, ARealPrometheusServerScrapesEveryHost) {
    if (!std::filesystem::exists("/usr/bin/prometheus")) {
        GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
    }
    LoopbackServer up(LoopbackServer::closing());
    RefusingPort closed;
    writeDocument({tcpHost("alpha", up.port()), tcpHost("beta", closed.port())});
    auto daemon = start({"--interval", "1", "--metrics-listen", "127.0.0.1:0"});
    const std::uint16_t port = announcedMetricsPort();
    ASSERT_NE(port, 0);
    const std::string target = "127.0.0.1:" + std::to_string(port);

    writeFileBytes(dir.file("prometheus.yml"),
                   "global:\n  scrape_interval: 1s\n"
                   "scrape_configs:\n  - job_name: vardomon\n    static_configs:\n      - targets: ['" +
                       target + "']\n");
    // prometheus cannot listen on port 0: it gets a port that was free a moment ago, and
    // another one when that was taken meanwhile.
    const std::string log = dir.file("prometheus.txt");
    std::unique_ptr<SpawnedProcess> prometheus;
    std::uint16_t web = 0;
    for (int attempt = 0; attempt < 5 && !prometheus; ++attempt) {
        web = freePort();
        auto p = std::make_unique<SpawnedProcess>(
            std::vector<std::string>{"prometheus", "--config.file=" + dir.file("prometheus.yml"),
                                     "--storage.tsdb.path=" + dir.file("data"),
                                     "--web.listen-address=127.0.0.1:" + std::to_string(web)},
            std::vector<std::string>{}, log);
        const bool ready = waitUntil(
            [&] { return !p->alive() || httpGet(web, "/-/ready").starts_with("HTTP/1.1 200 "); }, 60s);
        if (ready && p->alive()) {
            prometheus = std::move(p);
        }
    }
    ASSERT_TRUE(prometheus) << readFileBytes(log);

    for (const auto& [name, value] : {std::pair{"alpha", "1"}, std::pair{"beta", "0"}}) {
        const std::string query = std::string("vardomon_host_up{name=\"") + name + "\"}";
        const std::string sample = std::string(",\"") + value + "\"]";
        std::string answer;
        EXPECT_TRUE(waitUntil(
            [&] {
                answer = httpBody(httpGet(web, "/api/v1/query?query=" + urlEncoded(query)));
                return contains(answer, "\"job\":\"vardomon\"") && contains(answer, sample);
            },
            30s))
            << answer << "\n"
            << readFileBytes(log);
    }
}

TEST_F(DaemonTest, MuteAndUnmuteEditTheSettingsAndARunningDaemonTakesThemOnSighup) {
    LoopbackServer flip(LoopbackServer::closing());
    ServerItem host = tcpHost("flip", flip.port());
    const std::string ran = dir.file("down-ran");
    host.events.downCmd = true;
    host.events.downCmdLine = "touch " + ran;
    writeDocument({host});
    writeFileBytes(dir.file("settings.toml"), "# mine\n[monitor]\nchecks_at_once = 1\n");
    auto daemon = start({"--interval", "1", "--log", "-"});
    ASSERT_TRUE(waitUntil([&] { return !savedHosts().empty() && savedHosts()[0].goodCount > 0; }))
        << output();

    const auto command = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {VARDOMOND, "--config", dir.path()});
        return SpawnedProcess(args, {}, dir.file("command.txt")).waitForExit(10s);
    };
    const auto reloaded = [&](int times) {
        ::kill(daemon->pid(), SIGHUP);
        return waitUntil([&] {
            const std::string text = output();
            std::size_t n = 0;
            for (std::size_t at = 0; (at = text.find("and the settings again", at)) != std::string::npos;
                 ++at) {
                ++n;
            }
            return n == static_cast<std::size_t>(times);
        });
    };
    EXPECT_EQ(command({"--mute", "flip,other", "--for", "2h"}), 0);
    EXPECT_TRUE(std::regex_match(readFileBytes(dir.file("settings.toml")),
                                 std::regex("# mine\n\\[monitor\\]\nchecks_at_once = 1\nmutes = \\["
                                            "\\{ host = \"flip\", until = [-0-9T:]+Z \\}, "
                                            "\\{ host = \"other\", until = [-0-9T:]+Z \\}\\]\n")))
        << readFileBytes(dir.file("settings.toml"));
    EXPECT_TRUE(contains(readFileBytes(dir.file("command.txt")), "vardomond: muted flip, other until "));
    ASSERT_TRUE(reloaded(1)) << output();
    flip.stopListening();
    ASSERT_TRUE(waitUntil([&] { return contains(output(), ": Server Down: flip (muted)\n"); })) << output();
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(ran));

    EXPECT_EQ(command({"--unmute", "flip"}), 0);
    ASSERT_TRUE(reloaded(2)) << output();
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(ran); })) << output();
    EXPECT_TRUE(contains(output(), ": Server Down: flip (after the mute)\n")) << output();
    EXPECT_EQ(command({"--unmute", "flip", "--for", "1h"}), 2);
    ::kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->waitForExit(10s), 0) << output();
}

TEST_F(DaemonTest, TheReportNamesAnOutageOfAListenerStoppedAndStartedAgain) {
    writeFileBytes(dir.file("settings.toml"), "[history]\npath = \"" + dir.file("h.sqlite") + "\"\n");
    LoopbackServer web(LoopbackServer::closing());
    writeDocument({tcpHost("web", web.port())});
    auto daemon = start({"--interval", "1", "--log", "-"});
    ASSERT_TRUE(waitUntil([&] { return savedHosts().at(0).goodCount > 0; })) << output();
    web.stopListening();
    ASSERT_TRUE(waitUntil([&] { return contains(output(), ": Server Down: web\n"); })) << output();
    web.listenAgain();
    ASSERT_TRUE(waitUntil([&] { return contains(output(), ": Server Up: web\n"); })) << output();
    ::kill(daemon->pid(), SIGTERM);
    ASSERT_EQ(daemon->waitForExit(10s), 0) << output();

    const std::string reportPath = dir.file("report.json");
    SpawnedProcess report({VARDOMOND, "--config", dir.path(), "--report", "--format", "json", docPath}, {},
                          reportPath);
    ASSERT_EQ(report.waitForExit(30s), 0) << readFileBytes(reportPath);
    const std::string json = readFileBytes(reportPath);
    EXPECT_TRUE(std::regex_search(
        json, std::regex(
                  R"(\{"name": "web", "address": "127\.0\.0\.1:\d+", "type": "tcp", "uptime_ratio": 0\.\d+, )"
                  R"("checks": \d+, "failed_checks": [1-9]\d*, "outages": \[\{"start": "\d{4}-\d\d-\d\dT)"
                  R"(\d\d:\d\d:\d\dZ", "end": "[0-9TZ:-]+", "duration_s": \d+, "reason": "[^"]+"\}\], )"
                  R"("latency_ms": \{"p50": [\d.]+, "p95": [\d.]+, "max": [\d.]+\}\})")))
        << json;

    // A store that cannot be read is said, with status 2.
    writeFileBytes(dir.file("settings.toml"), "[history]\npath = \"" + dir.file("none.sqlite") + "\"\n");
    SpawnedProcess missing({VARDOMOND, "--config", dir.path(), "--report", docPath}, {}, reportPath);
    EXPECT_EQ(missing.waitForExit(30s), 2);
    EXPECT_TRUE(contains(readFileBytes(reportPath), "none.sqlite")) << readFileBytes(reportPath);
}

}  // namespace
