#include "probes/ServiceControl.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/SystemBus.h"

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceSuffix = ".service";
// A machine reached over SSH may be slow to answer, but a check must not hang the monitor.
constexpr std::uint64_t kCallTimeoutUsec = 15ULL * 1000 * 1000;

thread_local int lastError = 0;

// Keeps the errno of a failed sd-bus call (negative result) for ServiceLastError().
bool failed(int r) {
    if (r < 0) {
        lastError = -r;
        return true;
    }
    return false;
}

class SystemdManager final : public ServiceManagerHandle {
  public:
    explicit SystemdManager(BusPtr bus) : bus_(std::move(bus)) {}
    sd_bus* bus() const { return bus_.get(); }

  private:
    BusPtr bus_;
};

// The bus of a handle that OpenServiceManager made; null (and EINVAL) for any other handle.
sd_bus* busOf(ServiceManagerHandle& manager) {
    auto* systemd = dynamic_cast<SystemdManager*>(&manager);
    if (systemd == nullptr) {
        lastError = EINVAL;
        return nullptr;
    }
    return systemd->bus();
}

// Whether a unit in this state runs: a reload does not stop it.
bool isRunning(const std::string& activeState) {
    return activeState == "active" || activeState == "reloading";
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool getStringProperty(sd_bus* bus, const std::string& path, const char* name, std::string& value) {
    BusError error;
    char* text = nullptr;
    if (failed(sd_bus_get_property_string(bus, kDestination, path.c_str(), kUnitInterface, name, error.get(),
                                          &text))) {
        return false;
    }
    value = text;
    std::free(text);
    return true;
}

// The object of the unit, loaded if it was not: a stopped service is often not in memory.
bool loadUnit(sd_bus* bus, const std::string& unit, std::string& path) {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (failed(sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, "LoadUnit", error.get(),
                                  &raw, "s", unit.c_str()))) {
        return false;
    }
    MessagePtr reply(raw);
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
bool unitState(sd_bus* bus, const std::string& unit, std::string& path, UnitState& state) {
    if (!loadUnit(bus, unit, path) || !getStringProperty(bus, path, "LoadState", state.loadState)) {
        return false;
    }
    if (state.loadState == "not-found") {
        lastError = ENOENT;
        return false;
    }
    return getStringProperty(bus, path, "ActiveState", state.activeState);
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

bool listLoadedServices(sd_bus* bus, std::map<std::string, UnitState>& units) {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (failed(sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, "ListUnits",
                                  error.get(), &raw, ""))) {
        return false;
    }
    MessagePtr reply(raw);
    return readUnitList(reply.get(), units);
}

// The service units that have a file, by name; templates ("name@.service") and aliases of
// other units are left out, since neither is a service one could start by that name.
bool listServiceFiles(sd_bus* bus, std::vector<std::string>& names) {
    BusError error;
    sd_bus_message* raw = nullptr;
    if (failed(sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, "ListUnitFiles",
                                  error.get(), &raw, ""))) {
        return false;
    }
    MessagePtr reply(raw);
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
bool listServicesByName(sd_bus* bus, const std::vector<std::string>& names,
                        std::map<std::string, UnitState>& units) {
    if (names.empty()) {
        return true;
    }
    sd_bus_message* rawCall = nullptr;
    if (failed(sd_bus_message_new_method_call(bus, &rawCall, kDestination, kManagerPath, kManagerInterface,
                                              "ListUnitsByNames"))) {
        return false;
    }
    MessagePtr call(rawCall);
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
    sd_bus_message* raw = nullptr;
    if (failed(sd_bus_call(bus, call.get(), 0, error.get(), &raw))) {
        return false;
    }
    MessagePtr reply(raw);
    return readUnitList(reply.get(), units);
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

ServiceHandle OpenServiceManager(const std::string& machine) {
    lastError = 0;
    BusPtr bus;
    if (failed(openSystemBus(machine, bus))) {
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus.get(), kCallTimeoutUsec);
    // Opening a bus only starts the connection (over SSH, only the ssh process). Asking the
    // manager for its version proves that it is there and answers.
    BusError error;
    char* version = nullptr;
    if (failed(sd_bus_get_property_string(bus.get(), kDestination, kManagerPath, kManagerInterface, "Version",
                                          error.get(), &version))) {
        return nullptr;
    }
    std::free(version);
    return std::make_unique<SystemdManager>(std::move(bus));
}

void CloseServiceManager(ServiceHandle handle) {
    handle.reset();
}

bool QueryServiceRunning(ServiceManagerHandle& manager, const std::string& name, bool& running) {
    lastError = 0;
    sd_bus* bus = busOf(manager);
    std::string path;
    UnitState state;
    if (bus == nullptr || !unitState(bus, ServiceUnitName(name), path, state)) {
        return false;
    }
    running = isRunning(state.activeState);
    return true;
}

bool StartServiceByName(ServiceManagerHandle& manager, const std::string& name) {
    lastError = 0;
    sd_bus* bus = busOf(manager);
    const std::string unit = ServiceUnitName(name);
    std::string path;
    UnitState state;
    if (bus == nullptr || !unitState(bus, unit, path, state)) {
        return false;
    }
    if (isRunning(state.activeState) || state.activeState == "activating") {
        lastError = EALREADY;
        return false;
    }
    BusError error;
    sd_bus_message* raw = nullptr;
    if (failed(sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, "StartUnit",
                                  error.get(), &raw, "ss", unit.c_str(), "replace"))) {
        return false;
    }
    MessagePtr reply(raw);
    return true;
}

std::vector<ServiceInfo> EnumerateServices(ServiceManagerHandle& manager) {
    lastError = 0;
    sd_bus* bus = busOf(manager);
    std::map<std::string, UnitState> units;  // ordered by name
    std::vector<std::string> files;
    if (bus == nullptr || !listLoadedServices(bus, units) || !listServiceFiles(bus, files)) {
        return {};
    }
    std::vector<std::string> notLoaded;
    for (const std::string& f : files) {
        if (units.find(f) == units.end()) {
            notLoaded.push_back(f);
        }
    }
    if (!listServicesByName(bus, notLoaded, units)) {
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

ServiceList BuildServiceList(const std::string& machine) {
    ServiceList out;
    ServiceHandle handle = OpenServiceManager(machine);
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
