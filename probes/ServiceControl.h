// The services of a machine through systemd's D-Bus API: is a service running, start it,
// list them all. The local machine is reached on the system bus, another machine over SSH
// (as "systemctl -H" does). Every failure is a result, never an exception.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Monitor.h"
#include "platform/SystemBus.h"

// Current states of a service, as the status record carries them.
namespace ServiceState {
constexpr std::uint32_t Stopped = 1;
constexpr std::uint32_t StartPending = 2;
constexpr std::uint32_t StopPending = 3;
constexpr std::uint32_t Running = 4;
}  // namespace ServiceState

// The process status record of a service, nine 32-bit values.
struct ServiceStatusProcess {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
    std::uint32_t processId = 0;
    std::uint32_t serviceFlags = 0;
};
static_assert(sizeof(ServiceStatusProcess) == 36, "nine 32-bit values");

// One service of a machine. serviceName is what hosts store and the other operations take:
// the unit name without its ".service" suffix.
struct ServiceInfo {
    std::string displayName;
    std::string serviceName;
    ServiceStatusProcess status;
};

// A service of its own process, as every listed service is reported.
constexpr std::uint32_t kServiceOwnProcess = 0x10;

// Opens the service manager of the machine: empty, ".", "localhost", "127.0.0.1" or this
// machine's own name mean this machine; leading backslashes are ignored. Null on failure,
// with ServiceLastError() telling why. The open (over SSH too) and each later call on the
// handle wait at most kBusCallLimit; cancel, when given, ends them early from another thread
// (ECANCELED). A cancel given before the open is forgotten.
ServiceHandle OpenServiceManager(const std::string& machine, BusCancel* cancel = nullptr);
void CloseServiceManager(ServiceHandle handle);
// ok is false when the service is unknown or cannot be queried; running for a service that
// is active or reloading.
bool QueryServiceRunning(ServiceManagerHandle& manager, const std::string& name, bool& running);
// True when a start of the service was accepted; false for an unknown service, one that
// already runs or is starting, and any refusal.
bool StartServiceByName(ServiceManagerHandle& manager, const std::string& name);
// Every installed service of the machine, loaded or not, ordered by name; empty on failure.
std::vector<ServiceInfo> EnumerateServices(ServiceManagerHandle& manager);

// The services of a machine with one display line each ("name (display name) - Running"),
// or the error text that tells why there are none.
struct ServiceList {
    bool ok = false;
    std::vector<ServiceInfo> services;
    std::vector<std::string> lines;
    std::string errorText;
};
ServiceList BuildServiceList(const std::string& machine, BusCancel* cancel = nullptr);

// The errno of the last failed service operation of the calling thread (0 after a success).
int ServiceLastError();

// The systemd unit a service name means: ".service" is added to every name that does not end
// in it, so the names the list shows ("org.example.relay") come back as their units.
std::string ServiceUnitName(const std::string& name);
