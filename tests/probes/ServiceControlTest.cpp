#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/SystemBus.h"
#include "probes/ServiceControl.h"
#include "support/DbusMock.h"
#include "support/NetNamespace.h"

namespace {

using Unit = SystemdMock::Unit;

std::size_t count(const std::vector<std::string>& calls, const std::string& name) {
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), name));
}

class ServiceControl : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bus_ = std::make_unique<DbusMock>();
        systemd_ = std::make_unique<SystemdMock>(*bus_);
        systemd_->addUnit(Unit{"Spooler.service", "Print Spooler", "active"});
        systemd_->addUnit(Unit{"Themes.service", "Themes", "inactive"});
        systemd_->addUnit(Unit{"Backup.service", "Nightly Backup", "failed"});
        systemd_->addUnit(Unit{"Slowstart.service", "Slow Start", "activating"});
        systemd_->addUnit(Unit{"Winding.service", "Winding Down", "deactivating"});
        // Installed but not in memory: only its unit file is listed until it is loaded.
        systemd_->addUnit(Unit{"Dormant.service", "Dormant Service", "inactive", "loaded", false});
        // Referenced by another unit but without a file: in memory, not installed.
        systemd_->addUnit(Unit{"Ghost.service", "", "inactive", "not-found", true, ""});
        systemd_->addUnit(Unit{"cups.socket", "CUPS Socket", "active"});
        systemd_->addUnit(Unit{"org.example.relay.service", "Example Relay", "inactive"});
        systemd_->addUnitFile("/lib/systemd/system/getty@.service", "enabled");
        systemd_->addUnitFile("/etc/systemd/system/dbus-org.example.Alias.service", "alias");
    }
    static void TearDownTestSuite() {
        systemd_.reset();
        bus_.reset();
    }

    static ServiceHandle open(const std::string& machine = "") {
        ServiceHandle h = OpenServiceManager(machine);
        EXPECT_TRUE(h) << "open " << machine << " failed: " << ServiceLastError();
        return h;
    }

    static std::unique_ptr<DbusMock> bus_;
    static std::unique_ptr<SystemdMock> systemd_;
};

std::unique_ptr<DbusMock> ServiceControl::bus_;
std::unique_ptr<SystemdMock> ServiceControl::systemd_;

}  // namespace

TEST(ServiceNames, LocalMachineAndUnitName) {
    char own[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(own, sizeof own - 1), 0);
    const std::string host = own;
    for (const std::string& local : std::vector<std::string>{"", ".", "\\\\.", "localhost", "\\\\LocalHost",
                                                             "127.0.0.1", host, "\\\\" + host}) {
        EXPECT_TRUE(isLocalMachine(local)) << local;
    }
    for (const char* remote : {"127.0.0.2", "\\\\fileserver", "localhost.example", "10.0.0.1"}) {
        EXPECT_FALSE(isLocalMachine(remote)) << remote;
    }
    EXPECT_EQ(ServiceUnitName("cups"), "cups.service");
    EXPECT_EQ(ServiceUnitName("cups.service"), "cups.service");
    EXPECT_EQ(ServiceUnitName("getty@tty1"), "getty@tty1.service");
}

TEST_F(ServiceControl, QueryTellsRunningStoppedAndUnknown) {
    ServiceHandle h = open();
    ASSERT_TRUE(h);
    struct Case {
        const char* name;
        bool ok;
        bool running;
    };
    for (const Case& c :
         {Case{"Spooler", true, true}, Case{"Spooler.service", true, true}, Case{"Themes", true, false},
          Case{"Backup", true, false}, Case{"Slowstart", true, false},  // start pending is not running
          Case{"Winding", true, false}, Case{"Dormant", true, false}, Case{"Ghost", false, false},
          Case{"NoSuchThing", false, false}, Case{"cups", false, false}}) {
        bool running = !c.running;
        EXPECT_EQ(QueryServiceRunning(*h, c.name, running), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(running, c.running) << c.name;
        } else {
            EXPECT_NE(ServiceLastError(), 0) << c.name;
        }
    }
    CloseServiceManager(std::move(h));
}

TEST_F(ServiceControl, StartOnlyWhatIsNotRunning) {
    ServiceHandle h = open("\\\\localhost");
    ASSERT_TRUE(h);
    systemd_->clearManagerCalls();
    EXPECT_FALSE(StartServiceByName(*h, "Spooler"));
    EXPECT_FALSE(StartServiceByName(*h, "Slowstart"));
    EXPECT_FALSE(StartServiceByName(*h, "NoSuchThing"));
    EXPECT_EQ(count(systemd_->managerCalls(), "StartUnit"), 0U);

    EXPECT_TRUE(StartServiceByName(*h, "Themes"));
    EXPECT_EQ(count(systemd_->managerCalls(), "StartUnit"), 1U);
    bool running = false;
    EXPECT_TRUE(QueryServiceRunning(*h, "Themes", running));
    EXPECT_TRUE(running);
    // Now it runs, a second start is refused.
    EXPECT_FALSE(StartServiceByName(*h, "Themes"));
    EXPECT_EQ(count(systemd_->managerCalls(), "StartUnit"), 1U);
    systemd_->setActiveState("Themes.service", "inactive");
}

TEST_F(ServiceControl, EnumerationListsInstalledServicesByName) {
    ServiceHandle h = open();
    ASSERT_TRUE(h);
    const std::vector<ServiceInfo> list = EnumerateServices(*h);
    std::vector<std::string> names;
    for (const ServiceInfo& s : list) {
        names.push_back(s.serviceName);
        EXPECT_EQ(s.status.serviceType, kServiceOwnProcess);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Backup", "Dormant", "Slowstart", "Spooler", "Themes",
                                               "Winding", "org.example.relay"}));
    ASSERT_EQ(list.size(), 7U);
    EXPECT_EQ(list[0].status.currentState, ServiceState::Stopped);  // failed
    EXPECT_EQ(list[1].displayName, "Dormant Service");              // loaded on request
    EXPECT_EQ(list[1].status.currentState, ServiceState::Stopped);
    EXPECT_EQ(list[2].status.currentState, ServiceState::StartPending);
    EXPECT_EQ(list[3].status.currentState, ServiceState::Running);
    EXPECT_EQ(list[3].displayName, "Print Spooler");
    EXPECT_EQ(list[5].status.currentState, ServiceState::StopPending);
}

TEST_F(ServiceControl, BuildServiceListGivesOneLinePerService) {
    const ServiceList list = BuildServiceList("localhost");
    ASSERT_TRUE(list.ok) << list.errorText;
    EXPECT_EQ(list.errorText, "");
    EXPECT_EQ(list.lines,
              (std::vector<std::string>{
                  "Backup (Nightly Backup) - Not Running", "Dormant (Dormant Service) - Not Running",
                  "Slowstart (Slow Start) - Not Running", "Spooler (Print Spooler) - Running",
                  "Themes (Themes) - Not Running", "Winding (Winding Down) - Not Running",
                  "org.example.relay (Example Relay) - Not Running"}));
    ASSERT_EQ(list.services.size(), list.lines.size());
    EXPECT_EQ(list.services[3].serviceName, "Spooler");
}

TEST_F(ServiceControl, AListingFailureCarriesTheReason) {
    systemd_->failListings("org.freedesktop.DBus.Error.AccessDenied");
    const ServiceList denied = BuildServiceList(".");
    systemd_->failListings("");
    EXPECT_FALSE(denied.ok);
    EXPECT_TRUE(denied.lines.empty());
    EXPECT_EQ(denied.errorText, "Failed to list services for . (" + std::to_string(EACCES) + ")");
}

// The list shows a unit without ".service"; a name with dots of its own must still come
// back as that unit.
TEST_F(ServiceControl, ADottedNameFromTheListIsQueriedAndStarted) {
    const ServiceList list = BuildServiceList("");
    ASSERT_TRUE(list.ok) << list.errorText;
    const auto relay = std::find_if(list.services.begin(), list.services.end(),
                                    [](const ServiceInfo& s) { return s.displayName == "Example Relay"; });
    ASSERT_NE(relay, list.services.end());
    ASSERT_EQ(relay->serviceName, "org.example.relay");
    ServiceHandle h = open();
    ASSERT_TRUE(h);
    bool running = true;
    EXPECT_TRUE(QueryServiceRunning(*h, relay->serviceName, running));
    EXPECT_FALSE(running);
    EXPECT_TRUE(StartServiceByName(*h, relay->serviceName));
    EXPECT_TRUE(QueryServiceRunning(*h, relay->serviceName, running));
    EXPECT_TRUE(running);
    systemd_->setActiveState("org.example.relay.service", "inactive");
}

// A reload does not stop a service: the check, the list and the start all see it running.
TEST_F(ServiceControl, AReloadingServiceIsRunning) {
    systemd_->setActiveState("Spooler.service", "reloading");
    systemd_->clearManagerCalls();
    ServiceHandle h = open();
    ASSERT_TRUE(h);
    bool running = false;
    const bool ok = QueryServiceRunning(*h, "Spooler", running);
    const bool started = StartServiceByName(*h, "Spooler");
    const ServiceList list = BuildServiceList("");
    systemd_->setActiveState("Spooler.service", "active");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(running);
    EXPECT_FALSE(started);
    EXPECT_EQ(count(systemd_->managerCalls(), "StartUnit"), 0U);
    EXPECT_THAT(list.lines, ::testing::Contains("Spooler (Print Spooler) - Running"));
}

TEST(ServiceControlOpen, AMissingBusFailsWithItsReason) {
    TempDir dir;
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    EXPECT_FALSE(OpenServiceManager(""));
    EXPECT_EQ(ServiceLastError(), ENOENT);
    const ServiceList list = BuildServiceList("\\\\localhost");
    EXPECT_EQ(list.errorText,
              "Failed to open Service Control Manager for \\\\localhost (" + std::to_string(ENOENT) + ")");
    if (old != nullptr) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

// Another machine is reached over SSH. Inside the namespace its SSH port takes connections
// and never says a word: the open gives up within the call limit, and a cancel from another
// thread (the window closing) ends it at once.
TEST(ServiceControlOpen, AMachineThatNeverAnswersFailsInTimeAndCancels) {
    const std::string why = netns::run([] {
        const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in ssh{};
        ssh.sin_family = AF_INET;
        ssh.sin_port = htons(22);
        ssh.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
        ASSERT_EQ(::bind(silent, reinterpret_cast<const sockaddr*>(&ssh), sizeof ssh), 0)
            << std::strerror(errno);
        ASSERT_EQ(::listen(silent, 8), 0);

        auto start = std::chrono::steady_clock::now();
        const ServiceList list = BuildServiceList("\\\\127.0.0.2");
        EXPECT_LT(std::chrono::steady_clock::now() - start, kBusCallLimit + std::chrono::seconds(3));
        EXPECT_FALSE(list.ok);
        const std::string prefix = "Failed to open Service Control Manager for \\\\127.0.0.2 (";
        EXPECT_EQ(list.errorText.rfind(prefix, 0), 0U) << list.errorText;

        BusCancel cancel;
        std::thread closing([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancel.cancel();
        });
        start = std::chrono::steady_clock::now();
        EXPECT_FALSE(OpenServiceManager("127.0.0.2", &cancel));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(ServiceLastError(), ECANCELED);
        closing.join();
        ::close(silent);
    });
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
}
