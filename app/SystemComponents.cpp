#include "app/SystemComponents.h"

// SEAM: the probes, alerts and dialog services of the other layers are wired here as they
// land; until then every check fails and the program says so at first show.
namespace {

class UnwiredProbes : public HostProbes {
  public:
    bool checkTcpConnect(const std::string&, std::int32_t) override { return false; }
    bool checkTcpReceive(const ServerItem&) override { return false; }
    bool checkTcpSendReceive(const ServerItem&) override { return false; }
    void setPingAddress(const std::string&) override {}
    int ping() override { return 0; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}
};

class UnwiredAlerts : public HostAlerts {
  public:
    void logEvent(std::string, std::time_t) override {}
    void runUpActions(const ServerItem&, std::time_t) override {}
    void runDownActions(const ServerItem&, std::time_t) override {}
};

class UnwiredDialogServices : public DialogServices {
  public:
    void playSound(const std::string&) override {}
    void runShellCommand(const std::string&) override {}
    ServiceListing listServices(const std::string& machine) override {
        return {"Failed to open Service Control Manager for " + machine + " (0)", {}};
    }
};

}  // namespace

AppComponents makeSystemComponents(LiveConfig&, MonitorFlags&, MessageSink&) {
    AppComponents parts;
    parts.probes = std::make_unique<UnwiredProbes>();
    parts.alerts = std::make_unique<UnwiredAlerts>();
    parts.clock = std::make_unique<SystemClock>();
    parts.startupError = "The probes are not wired into this build.";
    return parts;
}

std::unique_ptr<DialogServices> makeSystemDialogServices() {
    return std::make_unique<UnwiredDialogServices>();
}
