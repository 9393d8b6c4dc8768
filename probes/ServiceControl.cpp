#include "probes/ServiceControl.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>

#include "platform/SystemBus.h"

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kServiceSuffix = ".service";

thread_local int lastError = 0;

// Keeps the errno of a failed sd-bus call (negative result) for ServiceLastError().
bool failed(int r) {
    if (r < 0) {
        lastError = -r;
        return true;
    }
    return false;
}

// The connection of one operation sequence, and what cancels its calls.
class SystemdManager final : public ServiceManagerHandle {
  public:
    SystemdManager(BusPtr bus, BusCancel* cancel) : bus_(std::move(bus)), cancel_(cancel) {}
    sd_bus* bus() const { return bus_.get(); }
    BusCancel* cancel() const { return cancel_; }

  private:
    BusPtr bus_;
    BusCancel* cancel_;
};

// A handle that OpenServiceManager made; null (and EINVAL) for any other handle.
SystemdManager* systemdOf(ServiceManagerHandle& manager) {
    auto* systemd = dynamic_cast<SystemdManager*>(&manager);
    if (systemd == nullptr) {
        lastError = EINVAL;
    }
    return systemd;
}

// Calls a method of systemd with the arguments that types describes.
template <typename... Args>
bool call(const SystemdManager& m, const char* path, const char* interface, const char* member,
          MessagePtr& reply, const BusLimit& limit, const char* types = nullptr, Args... args) {
    MessagePtr message;
    if (failed(newMethodCall(m.bus(), kDestination, path, interface, member, message))) {
        return false;
    }
    if (types != nullptr && failed(sd_bus_message_append(message.get(), types, args...))) {
        return false;
    }
    BusError error;
    return !failed(callMethod(m.bus(), message.get(), limit, error, reply));
}

template <typename... Args>
bool callManager(const SystemdManager& m, const char* member, MessagePtr& reply, const char* types = nullptr,
                 Args... args) {
    return call(m, kManagerPath, kManagerInterface, member, reply, BusLimit::fromNow(m.cancel()), types,
                args...);
}

// Whether a unit in this state runs: a reload does not stop it.
bool isRunning(const std::string& activeState) {
    return activeState == "active" || activeState == "reloading";
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool getStringProperty(const SystemdManager& m, const std::string& path, const char* interface,
                       const char* name, const BusLimit& limit, std::string& value) {
    MessagePtr reply;
    const char* text = nullptr;
    if (!call(m, path.c_str(), kPropertiesInterface, "Get", reply, limit, "ss", interface, name) ||
        failed(sd_bus_message_read(reply.get(), "v", "s", &text))) {
        return false;
    }
    value = text;
    return true;
}

// The object of the unit, loaded if it was not: a stopped service is often not in memory.
bool loadUnit(const SystemdManager& m, const std::string& unit, std::string& path) {
    MessagePtr reply;
    if (!callManager(m, "LoadUnit", reply, "s", unit.c_str())) {
        return false;
    }
    const char* object = nullptr;
    if (failed(sd_bus_message_read(reply.get(), "o", &object))) {
        return false;
    }
    path = object;
    return true;
}

struct UnitState {
    std::string description;
    std::string loadState;
    std::string activeState;
};

// The object path and states of a unit that is known to the manager.
bool unitState(const SystemdManager& m, const std::string& unit, std::string& path, UnitState& state) {
    if (!loadUnit(m, unit, path) || !getStringProperty(m, path, kUnitInterface, "LoadState",
                                                       BusLimit::fromNow(m.cancel()), state.loadState)) {
        return false;
    }
    if (state.loadState == "not-found") {
        lastError = ENOENT;
        return false;
    }
    return getStringProperty(m, path, kUnitInterface, "ActiveState", BusLimit::fromNow(m.cancel()),
                             state.activeState);
}

// Reads the units of a ListUnits-style reply into units (services only).
bool readUnitList(sd_bus_message* reply, std::map<std::string, UnitState>& units) {
    if (failed(sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssouso)"))) {
        return false;
    }
    for (;;) {
        const char* name = nullptr;
        const char* description = nullptr;
        const char* loadState = nullptr;
        const char* activeState = nullptr;
        const char* subState = nullptr;
        const char* following = nullptr;
        const char* path = nullptr;
        std::uint32_t jobId = 0;
        const char* jobType = nullptr;
        const char* jobPath = nullptr;
        const int r =
            sd_bus_message_read(reply, "(ssssssouso)", &name, &description, &loadState, &activeState,
                                &subState, &following, &path, &jobId, &jobType, &jobPath);
        if (failed(r)) {
            return false;
        }
        if (r == 0) {
            break;
        }
        const std::string unit = name;
        // A unit that is only referenced, without a file of its own, is not installed.
        if (endsWith(unit, kServiceSuffix) && std::string(loadState) != "not-found") {
            units[unit] = UnitState{description, loadState, activeState};
        }
    }
    return !failed(sd_bus_message_exit_container(reply));
}

bool listLoadedServices(const SystemdManager& m, std::map<std::string, UnitState>& units) {
    MessagePtr reply;
    return callManager(m, "ListUnits", reply) && readUnitList(reply.get(), units);
}

// The service units that have a file, by name; templates ("name@.service") and aliases of
// other units are left out, since neither is a service one could start by that name.
bool listServiceFiles(const SystemdManager& m, std::vector<std::string>& names) {
    MessagePtr reply;
    if (!callManager(m, "ListUnitFiles", reply)) {
        return false;
    }
    if (failed(sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "(ss)"))) {
        return false;
    }
    for (;;) {
        const char* path = nullptr;
        const char* state = nullptr;
        const int r = sd_bus_message_read(reply.get(), "(ss)", &path, &state);
        if (failed(r)) {
            return false;
        }
        if (r == 0) {
            break;
        }
        const std::string file = path;
        const std::string name = file.substr(file.find_last_of('/') + 1);
        if (endsWith(name, kServiceSuffix) && !endsWith(name, "@.service") && std::string(state) != "alias") {
            names.push_back(name);
        }
    }
    return !failed(sd_bus_message_exit_container(reply.get()));
}

// Loads the named units and reads their descriptions and states in one call.
bool listServicesByName(const SystemdManager& m, const std::vector<std::string>& names,
                        std::map<std::string, UnitState>& units) {
    if (names.empty()) {
        return true;
    }
    MessagePtr call;
    if (failed(newMethodCall(m.bus(), kDestination, kManagerPath, kManagerInterface, "ListUnitsByNames",
                             call))) {
        return false;
    }
    std::vector<char*> strv;
    strv.reserve(names.size() + 1);
    for (const std::string& n : names) {
        strv.push_back(const_cast<char*>(n.c_str()));
    }
    strv.push_back(nullptr);
    if (failed(sd_bus_message_append_strv(call.get(), strv.data()))) {
        return false;
    }
    BusError error;
    MessagePtr reply;
    return !failed(callMethod(m.bus(), call.get(), BusLimit::fromNow(m.cancel()), error, reply)) &&
           readUnitList(reply.get(), units);
}

std::uint32_t stateOf(const std::string& activeState) {
    if (isRunning(activeState)) {
        return ServiceState::Running;
    }
    if (activeState == "activating") {
        return ServiceState::StartPending;
    }
    if (activeState == "deactivating") {
        return ServiceState::StopPending;
    }
    return ServiceState::Stopped;
}

}  // namespace

int ServiceLastError() {
    return lastError;
}

std::string ServiceUnitName(const std::string& name) {
    return endsWith(name, kServiceSuffix) ? name : name + kServiceSuffix;
}

ServiceHandle OpenServiceManager(const std::string& machine, BusCancel* cancel) {
    lastError = 0;
    if (cancel != nullptr) {
        cancel->clear();
    }
    // Opening a bus only starts the connection (over SSH, only the ssh process). Asking the
    // manager for its version proves that it is there and answers; the connection and this
    // answer share one limit.
    const BusLimit limit = BusLimit::fromNow(cancel);
    BusPtr bus;
    if (failed(openSystemBus(machine, bus))) {
        return nullptr;
    }
    auto manager = std::make_unique<SystemdManager>(std::move(bus), cancel);
    std::string version;
    if (!getStringProperty(*manager, kManagerPath, kManagerInterface, "Version", limit, version)) {
        return nullptr;
    }
    return manager;
}

void CloseServiceManager(ServiceHandle handle) {
    handle.reset();
}

bool QueryServiceRunning(ServiceManagerHandle& manager, const std::string& name, bool& running) {
    lastError = 0;
    const SystemdManager* m = systemdOf(manager);
    std::string path;
    UnitState state;
    if (m == nullptr || !unitState(*m, ServiceUnitName(name), path, state)) {
        return false;
    }
    running = isRunning(state.activeState);
    return true;
}

bool StartServiceByName(ServiceManagerHandle& manager, const std::string& name) {
    lastError = 0;
    const SystemdManager* m = systemdOf(manager);
    const std::string unit = ServiceUnitName(name);
    std::string path;
    UnitState state;
    if (m == nullptr || !unitState(*m, unit, path, state)) {
        return false;
    }
    if (isRunning(state.activeState) || state.activeState == "activating") {
        lastError = EALREADY;
        return false;
    }
    MessagePtr reply;
    return callManager(*m, "StartUnit", reply, "ss", unit.c_str(), "replace");
}

std::vector<ServiceInfo> EnumerateServices(ServiceManagerHandle& manager) {
    lastError = 0;
    const SystemdManager* m = systemdOf(manager);
    std::map<std::string, UnitState> units;  // ordered by name
    std::vector<std::string> files;
    if (m == nullptr || !listLoadedServices(*m, units) || !listServiceFiles(*m, files)) {
        return {};
    }
    std::vector<std::string> notLoaded;
    for (const std::string& f : files) {
        if (units.find(f) == units.end()) {
            notLoaded.push_back(f);
        }
    }
    if (!listServicesByName(*m, notLoaded, units)) {
        return {};
    }
    std::vector<ServiceInfo> list;
    list.reserve(units.size());
    for (const auto& [unit, state] : units) {
        ServiceInfo info;
        info.serviceName = unit.substr(0, unit.size() - std::char_traits<char>::length(kServiceSuffix));
        info.displayName = state.description.empty() ? info.serviceName : state.description;
        info.status.serviceType = kServiceOwnProcess;
        info.status.currentState = stateOf(state.activeState);
        list.push_back(std::move(info));
    }
    return list;
}

ServiceList BuildServiceList(const std::string& machine, BusCancel* cancel) {
    ServiceList out;
    ServiceHandle handle = OpenServiceManager(machine, cancel);
    if (!handle) {
        out.errorText = "Failed to open Service Control Manager for " + machine + " (" +
                        std::to_string(ServiceLastError()) + ")";
        return out;
    }
    out.services = EnumerateServices(*handle);
    if (out.services.empty()) {
        // An empty list counts as a failure: every machine has services.
        out.errorText =
            "Failed to list services for " + machine + " (" + std::to_string(ServiceLastError()) + ")";
        CloseServiceManager(std::move(handle));
        return out;
    }
    for (const ServiceInfo& s : out.services) {
        out.lines.push_back(s.serviceName + " (" + s.displayName + ") - " +
                            (s.status.currentState == ServiceState::Running ? "Running" : "Not Running"));
    }
    CloseServiceManager(std::move(handle));
    out.ok = true;
    return out;
}
