#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/RemoteReboot.h"
#include "support/MockSystemBus.h"

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kMessage = "Kestrune Vardomon is rebooting this system due to failure.";

long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// logind of dbusmock on a private bus that stands in for the system bus; the template has
// neither ScheduleShutdown nor SetWallMessage, so each test adds what it needs.
class LogindReboot : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        oldAddress = old != nullptr ? old : "";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    }
    void TearDown() override {
        if (oldAddress.empty()) {
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        } else {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", oldAddress.c_str(), 1);
        }
    }
    void startLogind(bool wall = true, bool schedule = true) {
        bus.startTemplate("logind", kLogind);
        if (wall) {
            bus.addMethod(kLogind, kPath, kManager, "SetWallMessage", "sb", "", "");
        }
        if (schedule) {
            bus.addMethod(kLogind, kPath, kManager, "ScheduleShutdown", "st", "", "");
        }
    }
    // The arguments of the calls of one method, in order, as the mock logged them.
    std::vector<std::string> calls(const std::string& method) const {
        std::vector<std::string> out;
        std::istringstream in(bus.callLog("logind"));
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t blank = line.find(' ');
            if (blank != std::string::npos && line.compare(blank + 1, method.size() + 1, method + " ") == 0) {
                out.push_back(line.substr(blank + method.size() + 2));
            }
        }
        return out;
    }
    void expectRebootIn15Seconds(long long before, long long after) {
        ASSERT_EQ(calls("SetWallMessage"),
                  std::vector<std::string>{"\"" + std::string(kMessage) + "\" True"});
        const std::vector<std::string> scheduled = calls("ScheduleShutdown");
        ASSERT_EQ(scheduled.size(), 1u);
        ASSERT_TRUE(scheduled[0].starts_with("\"reboot\" ")) << scheduled[0];
        const long long usec = std::stoll(scheduled[0].substr(9));
        EXPECT_GE(usec, before + 15'000'000);
        EXPECT_LE(usec, after + 15'000'000);
        const std::string log = bus.callLog("logind");
        EXPECT_LT(log.find("SetWallMessage"), log.find("ScheduleShutdown"));
    }

    MockSystemBus bus;
    std::string oldAddress;
    LogindRebootRequester requester;
};

TEST_F(LogindReboot, LocalMachineGetsTheWallMessageAndAReboot15SecondsAhead) {
    startLogind();
    const long long before = nowMicros();
    EXPECT_EQ(requester.requestReboot("localhost", kMessage, std::chrono::seconds(15)),
              RebootResult::Requested);
    const long long after = nowMicros();
    expectRebootIn15Seconds(before, after);
}

// Another machine is reached as systemctl -H does: "ssh host systemd-stdio-bridge". The ssh
// here is a stand-in that records its arguments and bridges to the private bus.
TEST_F(LogindReboot, RemoteMachineIsReachedThroughSshAndTheStdioBridge) {
    startLogind();
    const std::string bin = bus.dir().file("bin");
    ::mkdir(bin.c_str(), 0755);
    writeFileBytes(bin + "/ssh", "#!/bin/sh\nprintf '[%s]' \"$@\" > '" + bus.dir().file("ssh.args") +
                                     "'\nexec systemd-stdio-bridge --bus-path='" + bus.address() + "'\n");
    ::chmod((bin + "/ssh").c_str(), 0755);
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    const long long before = nowMicros();
    const RebootResult r = requester.requestReboot("\\\\far-host", kMessage, std::chrono::seconds(15));
    const long long after = nowMicros();
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(r, RebootResult::Requested);
    const std::string args = readFileBytes(bus.dir().file("ssh.args"));
    EXPECT_NE(args.find("[far-host]"), std::string::npos) << args;
    EXPECT_NE(args.find("[systemd-stdio-bridge]"), std::string::npos) << args;
    expectRebootIn15Seconds(before, after);
}

TEST_F(LogindReboot, OutcomesWhenLogindCannotDoIt) {
    // No login manager on the bus at all.
    EXPECT_EQ(requester.requestReboot("localhost", kMessage, std::chrono::seconds(15)),
              RebootResult::NoFacility);

    // A login manager that cannot schedule (and has no wall message either).
    startLogind(false, false);
    EXPECT_EQ(requester.requestReboot("localhost", kMessage, std::chrono::seconds(15)),
              RebootResult::NoFunction);

    // A login manager that refuses.
    bus.addMethod(kLogind, kPath, kManager, "ScheduleShutdown", "st", "",
                  "raise dbus.exceptions.DBusException('not allowed', "
                  "name='org.freedesktop.DBus.Error.AccessDenied')");
    EXPECT_EQ(requester.requestReboot("localhost", kMessage, std::chrono::seconds(15)),
              RebootResult::Refused);
}

TEST(LogindRebootBus, ABusThatCannotBeReachedIsARefusal) {
    TempDir dir;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("nobody-listens")).c_str(), 1);
    LogindRebootRequester requester;
    EXPECT_EQ(requester.requestReboot("", kMessage, std::chrono::seconds(15)), RebootResult::Refused);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(MachineNames, LocalNamesAndWindowsStyleBackslashes) {
    char self[256] = {};
    ASSERT_EQ(::gethostname(self, sizeof self - 1), 0);
    EXPECT_TRUE(isLocalMachine(""));
    EXPECT_TRUE(isLocalMachine("localhost"));
    EXPECT_TRUE(isLocalMachine("LOCALHOST"));
    EXPECT_TRUE(isLocalMachine("127.0.0.1"));
    EXPECT_TRUE(isLocalMachine("\\\\."));
    EXPECT_TRUE(isLocalMachine(std::string("\\\\") + self));
    EXPECT_FALSE(isLocalMachine("far-host"));
    EXPECT_FALSE(isLocalMachine("192.0.2.1"));
    EXPECT_EQ(plainMachineName("\\\\far-host"), "far-host");
    EXPECT_EQ(plainMachineName("far-host"), "far-host");
}

}  // namespace
