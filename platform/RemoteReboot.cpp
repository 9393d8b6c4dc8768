#include "platform/RemoteReboot.h"

#include <systemd/sd-bus.h>

#include <cstdint>

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

// Calls a method of logind's manager with the arguments that types describes.
template <typename... Args>
int callLogind(sd_bus* bus, BusCancel& cancel, BusError& error, const char* member, const char* types,
               Args... args) {
    MessagePtr call;
    int r = newMethodCall(bus, kLogind, kLogindPath, kLogindManager, member, call);
    if (r >= 0) {
        r = sd_bus_message_append(call.get(), types, args...);
    }
    MessagePtr reply;
    return r < 0 ? r : callMethod(bus, call.get(), BusLimit::fromNow(&cancel), error, reply);
}

}  // namespace

RebootResult LogindRebootRequester::requestReboot(const std::string& machine, const std::string& message,
                                                  std::chrono::seconds delay) {
    cancel_.clear();
    BusPtr bus;
    if (openSystemBus(machine, bus) < 0) {
        return RebootResult::Refused;
    }
    {
        // The wall message is a courtesy: a login manager too old to take one still
        // reboots, so only a missing login manager ends the request here, or a machine that
        // gave no answer at all (cut off, too slow or cancelled): asking again would only
        // wait as long once more.
        BusError error;
        if (callLogind(bus.get(), cancel_, error, "SetWallMessage", "sb", message.c_str(), 1) < 0) {
            if (!error.isSet() || error.is(SD_BUS_ERROR_NO_REPLY)) {
                return RebootResult::Refused;
            }
            if (classify(error) == RebootResult::NoFacility) {
                return RebootResult::NoFacility;
            }
        }
    }
    const auto when = std::chrono::system_clock::now() + delay;
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    BusError error;
    if (callLogind(bus.get(), cancel_, error, "ScheduleShutdown", "st", "reboot",
                   static_cast<std::uint64_t>(usec)) < 0) {
        return classify(error);
    }
    return RebootResult::Requested;
}
