#include "app/SystemComponents.h"

#include <algorithm>

#include "alerts/MonitorAlerts.h"
#include "app/SystemProbes.h"
#include "platform/OpenFileLimit.h"
#include "platform/Processes.h"
#include "platform/SoundPlayer.h"
#include "probes/ServiceControl.h"

namespace {

constexpr std::size_t kOpenDuringCheck = 4;

class SystemDialogServices : public DialogServices {
  public:
    void playSound(const std::string& file) override { sounds_.play(file); }
    void runShellCommand(const std::string& command) override { processes_.runShellCommand(command); }
    ServiceListing listServices(const std::string& machine) override {
        ServiceList list = BuildServiceList(machine, &listingCancel_);
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
    void cancelListing() override { listingCancel_.cancel(); }

  private:
    CanberraSoundPlayer sounds_;
    PosixProcessRunner processes_;
    BusCancel listingCancel_;
};

AppComponents systemComponents(const ComponentContext& context, EventLogger* logCopy) {
    // Room for the descriptors of every check that runs beside others.
    raiseOpenFileLimit();
    AppComponents parts;
    parts.clock = std::make_unique<SystemClock>();
    auto alerts = std::make_unique<MonitorAlerts>(context.cfg, context.view, context.messages, *parts.clock,
                                                  context.flags.connectState, logCopy);
    parts.channels = &alerts->channels();
    parts.alerts = std::move(alerts);
    // What keeps a probe from checking at all goes to the status bar and the log.
    auto report = [&view = context.view, log = parts.alerts.get(),
                   clock = parts.clock.get()](const std::string& text) {
        view.setStatusText(text);
        log->logEvent(text, clock->now());
    };
    const std::size_t openBefore = openDescriptorCount();
    auto probes = std::make_unique<SystemProbes>(context.cfg, context.flags.connectState, report);
    // Every check beside others holds what a probe set holds at rest, and while it runs a
    // connection, a name lookup and the resolver's socket, or a service connection.
    const std::size_t perCheck =
        std::max(openDescriptorCount(), openBefore + 1) - openBefore + kOpenDuringCheck;
    parts.mostChecksAtOnce = spareDescriptors() / perCheck;
    parts.startupError = probes->startupError();
    parts.probes = std::move(probes);
    parts.makeProbes = [&cfg = context.cfg, report] { return std::make_unique<SystemProbes>(cfg, report); };
    return parts;
}

}  // namespace

AppComponents makeSystemComponents(const ComponentContext& context) {
    return systemComponents(context, nullptr);
}

AppComponents makeSystemComponentsLoggingTo(const ComponentContext& context, EventLogger& logCopy) {
    return systemComponents(context, &logCopy);
}

std::unique_ptr<DialogServices> makeSystemDialogServices() {
    return std::make_unique<SystemDialogServices>();
}
