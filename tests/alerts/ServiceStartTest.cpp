#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "alerts/Actions.h"
#include "alerts/ServiceStart.h"
#include "support/ActionFakes.h"
#include "support/DbusMock.h"

namespace {

using Lines = std::vector<std::string>;

// The start-a-service step of the down actions against systemd of dbusmock on a private
// system bus.
class ServiceStartAction : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bus = std::make_unique<DbusMock>();
        systemd = std::make_unique<SystemdMock>(*bus);
        systemd->addUnit({"cups.service", "CUPS Scheduler", "inactive"});
        systemd->addUnit({"sshd.service", "OpenSSH", "active"});
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

std::unique_ptr<DbusMock> ServiceStartAction::bus;
std::unique_ptr<SystemdMock> ServiceStartAction::systemd;

TEST_F(ServiceStartAction, AStoppedServiceIsStartedAndLogged) {
    EXPECT_EQ(runFor("cups"), Lines{"log Server \"cups\" started on Backup @1000"});
    EXPECT_TRUE(startUnitCalled());
}

TEST_F(ServiceStartAction, ARunningOrUnknownServiceIsAFailureLine) {
    EXPECT_EQ(runFor("sshd"), Lines{"log Failed to start service for item: Backup @1000"});
    EXPECT_EQ(runFor("no-such-thing"), Lines{"log Failed to start service for item: Backup @1000"});
    EXPECT_FALSE(startUnitCalled());
}

}  // namespace
