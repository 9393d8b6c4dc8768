#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "alerts/Actions.h"
#include "alerts/ServiceStart.h"
#include "platform/RemoteReboot.h"
#include "support/ActionFakes.h"
#include "support/DbusMock.h"

namespace {

using Lines = std::vector<std::string>;

// The service start and reboot steps of the down actions against systemd and logind of
// dbusmock on a private system bus.
class SystemActions : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bus = std::make_unique<DbusMock>();
        systemd = std::make_unique<SystemdMock>(*bus);
        systemd->addUnit({"cups.service", "CUPS Scheduler", "inactive"});
        systemd->addUnit({"sshd.service", "OpenSSH", "active"});
        bus->startTemplate("logind", "org.freedesktop.login1");
        bus->addMethod("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                       "SetWallMessage", "sb", "", "");
        bus->addMethod("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                       "ScheduleShutdown", "st", "", "");
    }
    static void TearDownTestSuite() {
        systemd.reset();
        bus.reset();
    }
    void SetUp() override { systemd->clearManagerCalls(); }

    Lines runFor(const std::string& service) {
        f.journal.clear();
        ServerItem it;
        it.name = "Backup";
        it.address = "localhost";
        it.notify.notifyDown = false;
        it.events.startService = true;
        it.events.startServiceName = service;
        ActionEffects fx{f.cfg,   f.log,    f.status,   f.clock, f.sounds, f.processes,
                         starter, f.reboot, f.messages, f.net,   f.mail};
        runDownActions(it, 1000, fx);
        return f.journal.entries();
    }
    bool startUnitCalled() {
        const Lines calls = systemd->managerCalls();
        return std::find(calls.begin(), calls.end(), "StartUnit") != calls.end();
    }

    static std::unique_ptr<DbusMock> bus;
    static std::unique_ptr<SystemdMock> systemd;
    FakeEffects f;
    SystemdServiceStarter starter;
};

std::unique_ptr<DbusMock> SystemActions::bus;
std::unique_ptr<SystemdMock> SystemActions::systemd;

TEST_F(SystemActions, AStoppedServiceIsStartedAndLogged) {
    EXPECT_EQ(runFor("cups"), Lines{"log Server \"cups\" started on Backup @1000"});
    EXPECT_TRUE(startUnitCalled());
}

TEST_F(SystemActions, ARunningOrUnknownServiceIsAFailureLine) {
    EXPECT_EQ(runFor("sshd"), Lines{"log Failed to start service for item: Backup @1000"});
    EXPECT_EQ(runFor("no-such-thing"), Lines{"log Failed to start service for item: Backup @1000"});
    EXPECT_FALSE(startUnitCalled());
}

}  // namespace

namespace {

TEST_F(SystemActions, RebootOfTheLocalMachineIsLoggedWithTheTimeOfWriting) {
    FakeEffects g;
    g.clock.time = 1234;
    LogindRebootRequester reboot;
    ActionEffects fx{g.cfg,   g.log,  g.status,   g.clock, g.sounds, g.processes,
                     starter, reboot, g.messages, g.net,   g.mail};
    ServerItem it;
    it.name = "Backup";
    it.address = "LOCALHOST";
    it.notify.notifyDown = false;
    it.events.shutdown = true;
    it.events.shutdownMachine = "%a";
    runDownActions(it, 1000, fx);
    EXPECT_EQ(g.journal.entries(), (Lines{"status Shutting down remote machine: LOCALHOST...",
                                          "log Shutdown remoate machine: LOCALHOST @1234"}));
    const Lines calls = bus->calls("org.freedesktop.login1", "/org/freedesktop/login1");
    EXPECT_EQ(calls, (Lines{"SetWallMessage", "ScheduleShutdown"}));
}

}  // namespace
