#include <gtest/gtest.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/RemoteReboot.h"
#include "platform/SystemBus.h"
#include "support/DbusMock.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kControl = "org.freedesktop.login1.TestControl";
constexpr const char* kMessage = "Kestrune Vardomon is rebooting this system due to failure.";

long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// logind of dbusmock on a private bus that stands in for the system bus; the template has
// neither ScheduleShutdown nor SetWallMessage, so each test adds what it needs, and the
// added methods note their arguments for the test to read back.
class LogindReboot : public ::testing::Test {
  protected:
    void startLogind(bool wall = true, bool schedule = true) {
        bus.startTemplate("logind", kLogind);
        bus.addMethod(kLogind, kPath, kControl, "Recorded", "", "as",
                      "ret = getattr(self, 'vardo_calls', [])");
        if (wall) {
            bus.addMethod(kLogind, kPath, kManager, "SetWallMessage", "sb", "",
                          "self.vardo_calls = getattr(self, 'vardo_calls', []) + "
                          "['SetWallMessage %s %s' % (args[0], bool(args[1]))]");
        }
        if (schedule) {
            bus.addMethod(kLogind, kPath, kManager, "ScheduleShutdown", "st", "",
                          "self.vardo_calls = getattr(self, 'vardo_calls', []) + "
                          "['ScheduleShutdown %s %d' % (args[0], args[1])]");
        }
    }
    // What the added methods received, one line per call, in order.
    std::vector<std::string> recorded() {
        sd_bus_error error{nullptr, nullptr, 0};
        sd_bus_message* reply = nullptr;
        std::vector<std::string> out;
        if (sd_bus_call_method(bus.bus(), kLogind, kPath, kControl, "Recorded", &error, &reply, "") >= 0) {
            char** lines = nullptr;
            if (sd_bus_message_read_strv(reply, &lines) >= 0 && lines != nullptr) {
                for (char** l = lines; *l != nullptr; ++l) {
                    out.emplace_back(*l);
                    std::free(*l);
                }
                std::free(lines);
            }
            sd_bus_message_unref(reply);
        }
        sd_bus_error_free(&error);
        return out;
    }
    void expectRebootIn15Seconds(long long before, long long after) {
        const std::vector<std::string> calls = recorded();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0], "SetWallMessage " + std::string(kMessage) + " True");
        ASSERT_TRUE(calls[1].starts_with("ScheduleShutdown reboot ")) << calls[1];
        const long long usec = std::stoll(calls[1].substr(std::strlen("ScheduleShutdown reboot ")));
        EXPECT_GE(usec, before + 15'000'000);
        EXPECT_LE(usec, after + 15'000'000);
    }
    // Asks for a reboot of machine through a stand-in ssh that records its arguments (each in
    // brackets) into sshArgs and bridges to the private bus.
    RebootResult rebootOverSsh(const std::string& machine) {
        TempDir dir;
        const std::string bin = dir.file("bin");
        ::mkdir(bin.c_str(), 0755);
        writeFileBytes(bin + "/ssh", "#!/bin/sh\nprintf '[%s]' \"$@\" > '" + dir.file("ssh.args") +
                                         "'\nexec systemd-stdio-bridge --bus-path='" + bus.address() + "'\n");
        ::chmod((bin + "/ssh").c_str(), 0755);
        const std::string oldPath = std::getenv("PATH");
        ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
        const RebootResult r = requester.requestReboot(machine, kMessage, std::chrono::seconds(15));
        ::setenv("PATH", oldPath.c_str(), 1);
        sshArgs = readFileBytes(dir.file("ssh.args"));
        return r;
    }

    DbusMock bus;
    LogindRebootRequester requester;
    std::string sshArgs;
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
    const long long before = nowMicros();
    EXPECT_EQ(rebootOverSsh("\\\\far-host"), RebootResult::Requested);
    const long long after = nowMicros();
    EXPECT_NE(sshArgs.find("[far-host]"), std::string::npos) << sshArgs;
    EXPECT_NE(sshArgs.find("[systemd-stdio-bridge]"), std::string::npos) << sshArgs;
    expectRebootIn15Seconds(before, after);
}

// ssh takes an IPv6 address only without brackets; a port after them becomes its -p.
TEST_F(LogindReboot, AnIpv6AddressInBracketsReachesSshWithoutThem) {
    startLogind();
    EXPECT_EQ(rebootOverSsh("root@[2001:db8::7]:2222"), RebootResult::Requested);
    EXPECT_NE(sshArgs.find("[-p][2222][--][root@2001:db8::7][systemd-stdio-bridge]"), std::string::npos)
        << sshArgs;
    EXPECT_EQ(rebootOverSsh("[2001:db8::7]"), RebootResult::Requested);
    EXPECT_NE(sshArgs.find("[--][2001:db8::7][systemd-stdio-bridge]"), std::string::npos) << sshArgs;
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
    EXPECT_TRUE(isLocalMachine("[::1]"));
    EXPECT_TRUE(isLocalMachine("\\\\."));
    EXPECT_TRUE(isLocalMachine(std::string("\\\\") + self));
    EXPECT_FALSE(isLocalMachine("far-host"));
    EXPECT_FALSE(isLocalMachine("192.0.2.1"));
    EXPECT_EQ(plainMachineName("\\\\far-host"), "far-host");
    EXPECT_EQ(plainMachineName("far-host"), "far-host");
}

}  // namespace
