#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "alerts/MonitorAlerts.h"
#include "alerts/Templates.h"
#include "core/Monitor.h"
#include "probes/TcpProbe.h"
#include "probes/TcpSocket.h"
#include "support/ActionFakes.h"
#include "support/AiosmtpdServer.h"
#include "support/DbusMock.h"
#include "support/LoopbackServer.h"
#include "support/MonitorFakes.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

Lines linesOf(const std::string& text, const std::string& end) {
    Lines out;
    std::size_t start = 0;
    std::size_t pos = 0;
    while ((pos = text.find(end, start)) != std::string::npos) {
        out.push_back(text.substr(start, pos - start));
        start = pos + end.size();
    }
    return out;
}

// The monitor's probes for TCP hosts that connect only, on the program's TCP probe.
class TcpConnectProbes : public HostProbes {
  public:
    TcpConnectProbes(LiveConfig& cfg, std::atomic<std::int32_t>& connectState)
        : probe_(sock_, cfg, connectState) {}
    bool checkTcpConnect(const std::string& address, std::int32_t port) override {
        return probe_.CheckTcpConnect(address, port);
    }
    bool checkTcpReceive(const ServerItem&) override { return false; }
    bool checkTcpSendReceive(const ServerItem&) override { return false; }
    void setPingAddress(const std::string&) override {}
    int ping() override { return 0; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}
    void cancel() override { probe_.cancel(); }

  private:
    TTcpSocket sock_;
    TcpProbe probe_;
};

// The monitor thread with the real log, the real actions and a real mail server: a host
// that goes down and comes back writes one line and runs its actions once each way.
TEST(MonitorWithRealAlerts, DownAndUpEachLogAndActOnce) {
    TempDir dir;
    AiosmtpdServer mailServer;
    LoopbackServer web(LoopbackServer::silent());
    Journal journal;
    RecordingView view(journal);
    FakeClock clock(journal);
    FakeMessages messages(journal);
    MonitorFlags flags;
    LiveConfig cfg;
    TcpConnectProbes probes(cfg, flags.connectState);

    cfg.update([&](ServerCfg& c) {
        c.doLog = 1;
        c.logFile = dir.file("vardo.log");
        c.mailServer = "127.0.0.1";
        c.fromAddress = "vardo@test.example";
        c.fromName = "Vardo";
        c.mailSubject = "%s changed";
        c.interval = 1;
    });
    ServerItem host;
    host.name = "Web";
    host.address = "127.0.0.1";
    host.tcpPort = web.port();
    host.tcpType = TcpConnectOnly;
    host.events.downCmd = host.events.upCmd = true;
    host.events.downCmdLine = "echo down %s >> '" + dir.file("commands") + "'";
    host.events.upCmdLine = "echo up %s >> '" + dir.file("commands") + "'";
    host.notify.notifyUp = true;
    host.notify.sendMails = true;
    host.notify.mailList = "ops@test.example";
    host.notify.downMsg = "%s went down";
    host.notify.upMsg = "%s is up";
    ServerDoc doc;
    doc.append(host);

    MonitorAlerts alerts(cfg, view, messages, clock, flags.connectState);
    cfg.updateExtra([&](Settings& s) { s.mail.port = mailServer.port(); });
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
    Monitor monitor(ctx);
    // Each cycle counts 60 one-second steps down. The server answers in the first cycle,
    // stops for the next two, and answers again in the last two.
    clock.onSleep = [&] {
        const int sleeps = clock.sleeps;
        if (sleeps == 1 * 60) {
            web.stopListening();
        } else if (sleeps == 3 * 60) {
            web.listenAgain();
        } else if (sleeps >= 5 * 60) {
            flags.running = false;
        }
    };
    monitor.start();
    ASSERT_TRUE(waitUntil([&] { return flags.threadDone.load(); }, std::chrono::seconds(60)));
    monitor.cancelAndJoin();

    const std::string when = dateText(clock.time);
    EXPECT_EQ(linesOf(readFileBytes(dir.file("vardo.log")), "\r\n"),
              (Lines{when + ": Server Down: Web", when + ": Server Up: Web"}));
    EXPECT_EQ(readFileBytes(dir.file("commands")), "down Web\nup Web\n");
    ASSERT_TRUE(waitUntil([&] { return mailServer.delivered() >= 2; }));
    EXPECT_EQ(mailServer.delivered(), 2);
    EXPECT_TRUE(
        mailServer.mail(0).ends_with("Subject: Web changed\r\nMime-Version: 1.0\r\n"
                                     "Content-Type: text/plain; charset=us-ascii\r\n\r\n\r\n"
                                     "Web went down\r\n"))
        << mailServer.mail(0);
    EXPECT_TRUE(mailServer.mail(1).ends_with("\r\n\r\nWeb is up\r\n")) << mailServer.mail(1);
    EXPECT_EQ(journal.matching("status Sending Server"),
              (Lines{"status Sending Server Down Email...", "status Sending Server Up Email..."}));
    EXPECT_TRUE(journal.matching("box").empty());
    EXPECT_EQ(journal.matching("view counts"),
              (Lines{"view counts 0 1/0", "view counts 0 1/1", "view counts 0 1/2", "view counts 0 2/2",
                     "view counts 0 3/2"}));
}

}  // namespace

namespace {

// Closing the window while a mail server keeps the monitor waiting: the wait ends at once,
// not after the mail dialogue's time limit.
TEST(MonitorWithRealAlerts, ShutdownEndsAStalledMailDialogueAtOnce) {
    RefusingPort down;
    ScriptedSmtpServer mailServer("220 ready", [](const std::string& c) {
        return c.starts_with("HELO") ? std::string() : ScriptedSmtpServer::standardReply(c);
    });
    Journal journal;
    RecordingView view(journal);
    FakeClock clock(journal);
    FakeMessages messages(journal);
    MonitorFlags flags;
    LiveConfig cfg;
    cfg.update([&](ServerCfg& c) {
        c.mailServer = "127.0.0.1";
        c.fromAddress = "vardo@test.example";
    });
    TcpConnectProbes probes(cfg, flags.connectState);
    ServerItem host;
    host.name = "Web";
    host.address = "127.0.0.1";
    host.tcpPort = down.port();
    host.notify.mailList = "ops@test.example";
    ServerDoc doc;
    doc.append(host);
    MonitorAlerts alerts(cfg, view, messages, clock, flags.connectState);
    cfg.updateExtra([&](Settings& s) { s.mail.port = mailServer.port(); });
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
    Monitor monitor(ctx);
    monitor.start();
    ASSERT_TRUE(waitUntil([&] {
        const Lines c = mailServer.commands();
        return !c.empty() && c.back().starts_with("HELO");
    }));
    const auto start = std::chrono::steady_clock::now();
    monitor.cancelAndJoin();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(flags.threadDone);
}

}  // namespace

namespace {

// Closing the window while the down actions wait for systemd to start a service and then for
// logind to take a reboot, both of which never answer: each wait ends at once, not after the
// calls' time limit.
TEST(MonitorWithRealAlerts, ShutdownEndsStalledServiceStartAndReboot) {
    TempDir dir;
    DbusMock bus;
    SystemdMock systemd(bus);
    systemd.addUnit({"relay.service", "Relay", "inactive"});
    const std::string stall =
        "import time\nopen('" + dir.file("stalled") + "', 'a').close()\ntime.sleep(60)\n";
    bus.addMethod(SystemdMock::kBusName, SystemdMock::kPath, "org.freedesktop.systemd1.Manager", "LoadUnit",
                  "s", "o", stall);
    bus.startTemplate("logind", "org.freedesktop.login1");
    bus.addMethod("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                  "SetWallMessage", "sb", "", stall);
    RefusingPort down;
    Journal journal;
    RecordingView view(journal);
    FakeClock clock(journal);
    FakeMessages messages(journal);
    MonitorFlags flags;
    LiveConfig cfg;
    TcpConnectProbes probes(cfg, flags.connectState);
    ServerItem host;
    host.name = "Relay";
    host.address = "localhost";
    host.tcpPort = down.port();
    host.events.startService = true;
    host.events.startServiceName = "relay";
    host.events.shutdown = true;
    host.events.shutdownMachine = "localhost";
    ServerDoc doc;
    doc.append(host);
    MonitorAlerts alerts(cfg, view, messages, clock, flags.connectState);
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
    Monitor monitor(ctx);
    monitor.start();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir.file("stalled")); }));
    const auto start = std::chrono::steady_clock::now();
    monitor.cancelAndJoin();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
