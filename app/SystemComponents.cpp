#include "app/SystemComponents.h"

#include "app/SystemProbes.h"
#include "probes/ServiceControl.h"

// SEAM: the alerts and dialog services of the other layers are wired here as they land.
namespace {

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
        ServiceList list = BuildServiceList(machine);
        ServiceListing out;
        if (!list.ok) {
            out.error = list.errorText;
            return out;
        }
        out.lines = std::move(list.lines);
        for (const ServiceInfo& s : list.services) {
            out.names.push_back(s.serviceName);
        }
        return out;
    }
};

}  // namespace

AppComponents makeSystemComponents(const ComponentContext& context) {
    AppComponents parts;
    auto probes = std::make_unique<SystemProbes>(context.cfg, context.flags.connectState);
    parts.startupError = probes->startupError();
    parts.probes = std::move(probes);
    parts.alerts = std::make_unique<UnwiredAlerts>();
    parts.clock = std::make_unique<SystemClock>();
    return parts;
}

std::unique_ptr<DialogServices> makeSystemDialogServices() {
    return std::make_unique<UnwiredDialogServices>();
}
