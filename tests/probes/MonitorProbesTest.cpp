// The monitor cycle with the real ping component and the real service control: a ping host
// on 127.0.0.1 that falls silent and answers again, a name that does not resolve, and service
// hosts that run, stop, start and do not exist.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/Monitor.h"
#include "probes/Ping.h"
#include "probes/ServiceControl.h"
#include "support/DbusMock.h"
#include "support/MonitorFakes.h"
#include "support/NetNamespace.h"

namespace {

// Ping and service hosts only; this list holds no TCP hosts.
class PingAndServiceProbes : public HostProbes {
  public:
    explicit PingAndServiceProbes(TPinger& png) : png_(png) {}
    bool checkTcpConnect(const std::string&, std::int32_t) override { return unexpectedTcp(); }
    bool checkTcpReceive(const ServerItem&) override { return unexpectedTcp(); }
    bool checkTcpSendReceive(const ServerItem&) override { return unexpectedTcp(); }
    void setPingAddress(const std::string& address) override { png_.SetAddress(address); }
    int ping() override { return png_.Ping(); }
    ServiceHandle openServiceManager(const std::string& machine) override {
        return OpenServiceManager(machine);
    }
    bool queryServiceRunning(ServiceManagerHandle& handle, const std::string& service,
                             bool& running) override {
        return QueryServiceRunning(handle, service, running);
    }
    void closeServiceManager(ServiceHandle handle) override { CloseServiceManager(std::move(handle)); }
    void cancel() override { png_.cancel(); }

  private:
    static bool unexpectedTcp() {
        ADD_FAILURE() << "a TCP check was run";
        return false;
    }
    TPinger& png_;
};

ServerItem pingHost(const std::string& name, const std::string& address, int numPings, int failuresAllowed) {
    ServerItem it;
    it.type = HostPing;
    it.name = name;
    it.address = address;
    it.numPings = numPings;
    it.failuresAllowed = failuresAllowed;
    return it;
}

ServerItem serviceHost(const std::string& name, const std::string& machine, const std::string& service) {
    ServerItem it;
    it.type = HostService;
    it.name = name;
    it.address = machine;
    it.service = service;
    return it;
}

std::vector<std::string> eventsOf(const Journal& journal) {
    std::vector<std::string> out;
    for (const std::string& e : journal.entries()) {
        if (e.rfind("log ", 0) == 0 || e.rfind("up actions ", 0) == 0 || e.rfind("down actions ", 0) == 0) {
            out.push_back(e.substr(0, e.find(" @")));
        }
    }
    return out;
}

}  // namespace

TEST(MonitorWithRealProbes, PingAndServiceHostsGoDownAndComeBack) {
    if (const std::string why = netns::lookupsStayInside(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    DbusMock bus;
    SystemdMock systemd(bus);
    systemd.addUnit(SystemdMock::Unit{"Spooler.service", "Print Spooler", "active"});
    systemd.addUnit(SystemdMock::Unit{"Themes.service", "Themes", "inactive"});

    const std::string why = netns::run([&] {
        ServerDoc doc;
        doc.append(pingHost("Loop", "127.0.0.1", 2, 0));
        doc.append(pingHost("Nowhere", "no-such-host.invalid", 1, 1));
        doc.append(serviceHost("Spool", "", "Spooler"));
        doc.append(serviceHost("Theme", "\\\\localhost", "Themes"));
        doc.append(serviceHost("Ghost", ".", "NoSuchThing"));

        TPinger png;
        png.SetTimeout(300);
        PingAndServiceProbes probes(png);
        Journal journal;
        RecordingAlerts alerts(journal);
        RecordingView view(journal);
        FakeClock clock(journal);
        LiveConfig cfg;
        MonitorFlags flags;
        flags.running = true;

        // Between cycles: the ping host falls silent and Themes starts; then the ping host
        // answers again; then monitoring stops.
        int cycle = 1;
        clock.onSleep = [&] {
            ++cycle;
            if (cycle == 2) {
                netns::setSysctl("net/ipv4/icmp_echo_ignore_all", "1");
                systemd.setActiveState("Themes.service", "active");
            } else if (cycle == 3) {
                netns::setSysctl("net/ipv4/icmp_echo_ignore_all", "0");
            } else {
                flags.running = false;
            }
            journal.add("-- cycle " + std::to_string(cycle));
            flags.checkNow = true;
        };
        MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
        EXPECT_EQ(MonitorThreadProc(ctx), 0);
        EXPECT_TRUE(flags.threadDone);

        EXPECT_EQ(eventsOf(journal), (std::vector<std::string>{
                                         // cycle 1
                                         "log Server Up: Spool",
                                         "up actions Spool",
                                         "log Server Down: Theme",
                                         "down actions Theme",
                                         "log Failed to check service for item: Ghost",
                                         // cycle 2
                                         "log Server Down: Loop",
                                         "down actions Loop",
                                         "log Server Down: Nowhere",
                                         "down actions Nowhere",
                                         "log Server Up: Spool",
                                         "up actions Spool",
                                         "log Server Up: Theme",
                                         "up actions Theme",
                                         "log Failed to check service for item: Ghost",
                                         // cycle 3
                                         "log Server Up: Loop",
                                         "up actions Loop",
                                         "log Server Up: Spool",
                                         "up actions Spool",
                                         "log Server Up: Theme",
                                         "up actions Theme",
                                         "log Failed to check service for item: Ghost",
                                     }));

        const std::vector<ServerItem> items = doc.items();
        ASSERT_EQ(items.size(), 5U);
        EXPECT_EQ(items[0].goodCount, 2);
        EXPECT_EQ(items[0].badCount, 1);
        EXPECT_EQ(items[0].status, StatusSuccess);
        EXPECT_EQ(items[1].badCount, 3);
        EXPECT_EQ(items[1].consecutiveFailures, 3);
        EXPECT_EQ(items[1].status, StatusFailure);
        EXPECT_EQ(items[2].goodCount, 3);
        EXPECT_EQ(items[3].goodCount, 2);
        EXPECT_EQ(items[3].badCount, 1);
        EXPECT_EQ(items[3].consecutiveFailures, 0);
        // A service that cannot be checked changes no count.
        EXPECT_EQ(items[4].goodCount, 0);
        EXPECT_EQ(items[4].badCount, 0);
        EXPECT_EQ(items[4].status, StatusFailure);
        // The silent cycle tried the ping host twice.
        EXPECT_EQ(journal.matching("status Checking: Loop (Ping 2 of 2)").size(), 1U);
    });
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
}

TEST(MonitorWithRealProbes, CancelEndsAWaitingPingAtShutdown) {
    const std::string why = netns::run([] {
        netns::setSysctl("net/ipv4/icmp_echo_ignore_all", "1");
        ServerDoc doc;
        doc.append(pingHost("Silent", "127.0.0.1", 5, 0));
        TPinger png;
        png.SetTimeout(30000);
        PingAndServiceProbes probes(png);
        Journal journal;
        RecordingAlerts alerts(journal);
        RecordingView view(journal);
        SystemClock clock;
        LiveConfig cfg;
        MonitorFlags flags;
        Monitor monitor(MonitorContext{doc, cfg, flags, probes, alerts, view, clock});
        monitor.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto start = std::chrono::steady_clock::now();
        monitor.cancelAndJoin();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(flags.threadDone);
    });
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
}
