// The monitor cycle with the real TCP probe against servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "TcpTestHelpers.h"
#include "core/Monitor.h"
#include "core/Presentation.h"
#include "probes/TcpProbe.h"
#include "support/LoopbackServer.h"
#include "support/MonitorFakes.h"

using namespace tcptest;

namespace {

// The TCP probe as the cycle sees it; this test has no ping or service hosts.
class TcpOnlyProbes : public HostProbes {
  public:
    explicit TcpOnlyProbes(TcpProbe& tcp) : tcp_(tcp) {}
    bool checkTcpConnect(const std::string& address, std::int32_t port) override {
        return tcp_.CheckTcpConnect(address, port);
    }
    bool checkTcpReceive(const ServerItem& item) override { return tcp_.CheckTcpReceive(item); }
    bool checkTcpSendReceive(const ServerItem& item) override { return tcp_.CheckTcpSendReceive(item); }
    void setPingAddress(const std::string&) override { ADD_FAILURE() << "no ping host here"; }
    int ping() override { return 0; }
    ServiceHandle openServiceManager(const std::string&) override {
        ADD_FAILURE() << "no service host here";
        return nullptr;
    }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}
    void cancel() override { tcp_.cancel(); }

  private:
    TcpProbe& tcp_;
};

ServerItem tcpHost(const std::string& name, std::uint16_t port, std::int8_t tcpType, std::string recv = {}) {
    ServerItem item;
    item.name = name;
    item.address = "127.0.0.1";
    item.tcpPort = port;
    item.tcpType = tcpType;
    item.recvText = std::move(recv);
    return item;
}

// The result row a rebuild shows for the host now.
std::vector<std::string> cells(const ServerItem& item) {
    const ResultRow row = resultRowFor(item);
    return {row.cells.begin(), row.cells.end()};
}

// Whether want appears in have in this order (other entries may come between).
bool inOrder(const std::vector<std::string>& have, const std::vector<std::string>& want) {
    auto at = have.begin();
    for (const std::string& w : want) {
        at = std::find(at, have.end(), w);
        if (at == have.end()) {
            return false;
        }
        ++at;
    }
    return true;
}

class TcpMonitorTest : public ::testing::Test {
  protected:
    TcpMonitorTest() {
        cfg.update([](ServerCfg& c) {
            c.interval = 1;
            c.connectTimeout = 2000;
        });
    }

    // Runs cycles on this thread; after cycle k (counted from 1) the countdown's first
    // second calls between(k), which returns false to stop monitoring.
    void runCycles(const std::function<bool(int)>& between) {
        int sleeps = 0;
        clock.onSleep = [&] {
            if (sleeps++ % 60 == 0 && !between(sleeps / 60 + 1)) {
                flags.running = false;
            }
        };
        flags.running = true;
        MonitorThreadProc(ctx);
    }

    Journal journal;
    ServerDoc doc;
    LiveConfig cfg;
    MonitorFlags flags;
    FailingCloseSocket sock;
    TcpProbe tcp{sock, cfg, flags.connectState};
    TcpOnlyProbes probes{tcp};
    RecordingAlerts alerts{journal};
    RecordingView view{journal};
    FakeClock clock{journal};
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
};

TEST_F(TcpMonitorTest, HostGoesDownWhenItsServerStopsListeningAndUpWhenItReturns) {
    LoopbackServer web(LoopbackServer::silent());
    LoopbackServer mail(LoopbackServer::greeting("220 ready\r\n"));
    doc.append(tcpHost("web", web.port(), TcpConnectOnly));
    doc.append(tcpHost("mail", mail.port(), TcpConnectReceive, "220"));

    std::vector<std::vector<std::string>> webRows;
    runCycles([&](int cycle) {
        webRows.push_back(cells(*doc.at(0)));
        if (cycle == 1) {
            web.stopListening();
        } else if (cycle == 2) {
            EXPECT_EQ(resultRowFor(*doc.at(0)).icon, RowIcon::Down);
            web.listenAgain();
        }
        return cycle < 3;
    });

    using V = std::vector<std::string>;
    ASSERT_EQ(webRows.size(), 3u);
    EXPECT_EQ(webRows[0], (V{"web", "TCP Connect", "Success", "1", "0"}));
    EXPECT_EQ(webRows[1], (V{"web", "TCP Connect", "Failure (1)", "1", "1"}));
    EXPECT_EQ(webRows[2], (V{"web", "TCP Connect", "Success", "2", "1"}));
    EXPECT_EQ(cells(*doc.at(1)), (V{"mail", "TCP Connect/Recv", "Success", "3", "0"}));

    const std::string at = " @" + std::to_string(clock.time.load());
    const std::vector<std::string> all = journal.entries();
    EXPECT_TRUE(
        inOrder(all, {"view checking 0", "status Checking: web", "view counts 0 1/0", "view status 0 1 c0",
                      "view checking 1", "view counts 1 1/0", "view status 1 1 c0",
                      // cycle 2: down, logged after the counts and before the status
                      "view checking 0", "view counts 0 1/1", "log Server Down: web" + at,
                      "down actions web" + at, "view status 0 0 c1", "view counts 1 2/0",
                      // cycle 3: up, logged before the counts
                      "view checking 0", "log Server Up: web" + at, "up actions web" + at,
                      "view counts 0 2/1", "view status 0 1 c0", "view counts 1 3/0"}));
    EXPECT_EQ(journal.matching("log ").size(), 2u);
    EXPECT_EQ(journal.matching("down actions").size(), 1u);
    EXPECT_EQ(journal.matching("up actions").size(), 1u);

    const ServerItem saved = *doc.at(0);
    EXPECT_EQ(saved.goodCount, 2);
    EXPECT_EQ(saved.badCount, 1);
    EXPECT_EQ(saved.consecutiveFailures, 0);
    EXPECT_EQ(saved.status, StatusSuccess);
    EXPECT_TRUE(flags.threadDone);
}

TEST_F(TcpMonitorTest, AProbeWhoseCloseFailsCountsAsFailedAndTheCycleGoesOn) {
    LoopbackServer web(LoopbackServer::silent());
    LoopbackServer mail(LoopbackServer::greeting("220 ready\r\n"));
    doc.append(tcpHost("web", web.port(), TcpConnectOnly));
    doc.append(tcpHost("mail", mail.port(), TcpConnectReceive, "220"));
    sock.failCloses = 1;
    runCycles([](int) { return false; });
    EXPECT_EQ(cells(*doc.at(0))[ResultColumn::Status], "Failure (1)");
    EXPECT_EQ(cells(*doc.at(1))[ResultColumn::Status], "Success");
    EXPECT_EQ(journal.matching("log Server Down: web").size(), 1u);
}

TEST_F(TcpMonitorTest, ACheckCutShortByTheCloseIsNoCheck) {
    LoopbackServer silent(LoopbackServer::silent());
    cfg.update([](ServerCfg& c) { c.connectTimeout = 600000; });
    // With no failure allowed, a counted failure would take the host down while exiting.
    doc.append(tcpHost("quiet", silent.port(), TcpConnectReceive, "220"));
    Monitor monitor(ctx);
    monitor.start();
    ASSERT_TRUE(waitUntil([&] { return silent.accepted() == 1; }));
    std::this_thread::sleep_for(milliseconds(50));
    const auto start = tcptest::Clock::now();
    monitor.cancelAndJoin();
    EXPECT_LT(msSince(start), 5000);
    EXPECT_TRUE(flags.threadDone);
    const ServerItem after = *doc.at(0);
    EXPECT_EQ(after.badCount, 0);
    EXPECT_EQ(after.consecutiveFailures, 0);
    EXPECT_TRUE(journal.matching("log").empty());
    EXPECT_TRUE(journal.matching("down actions").empty());
    EXPECT_EQ(journal.matching("view"), (std::vector<std::string>{"view checking 0"}));
}

}  // namespace
