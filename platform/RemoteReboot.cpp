#include "platform/RemoteReboot.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/SystemBus.h"

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

RebootResult classify(const BusError& error) {
    if (error.is(SD_BUS_ERROR_SERVICE_UNKNOWN) || error.is(SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
        return RebootResult::NoFacility;
    }
    if (error.is(SD_BUS_ERROR_UNKNOWN_METHOD) || error.is(SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
        error.is(SD_BUS_ERROR_UNKNOWN_OBJECT)) {
        return RebootResult::NoFunction;
    }
    return RebootResult::Refused;
}

BusPtr openBus(const std::string& machine) {
    BusPtr bus;
    openSystemBus(machine, bus);
    return bus;
}

}  // namespace

RebootResult LogindRebootRequester::requestReboot(const std::string& machine, const std::string& message,
                                                  std::chrono::seconds delay) {
    BusPtr bus = openBus(machine);
    if (!bus) {
        return RebootResult::Refused;
    }
    {
        // The wall message is a courtesy: a login manager too old to take one still
        // reboots, so only a missing login manager ends the request here.
        BusError error;
        if (sd_bus_call_method(bus.get(), kLogind, kLogindPath, kLogindManager, "SetWallMessage", error.get(),
                               nullptr, "sb", message.c_str(), 1) < 0 &&
            classify(error) == RebootResult::NoFacility) {
            return RebootResult::NoFacility;
        }
    }
    const auto when = std::chrono::system_clock::now() + delay;
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    BusError error;
    if (sd_bus_call_method(bus.get(), kLogind, kLogindPath, kLogindManager, "ScheduleShutdown", error.get(),
                           nullptr, "st", "reboot", static_cast<std::uint64_t>(usec)) < 0) {
        return classify(error);
    }
    return RebootResult::Requested;
}
