#include "platform/RemoteReboot.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

class BusError {
  public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&error_); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    sd_bus_error* get() { return &error_; }
    bool is(const char* name) const { return sd_bus_error_has_name(&error_, name) != 0; }

  private:
    sd_bus_error error_{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL is a C compound literal
};

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return {};
    }
    return buf;
}

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
    sd_bus* bus = nullptr;
    const int r = isLocalMachine(machine)
                      ? sd_bus_open_system(&bus)
                      : sd_bus_open_system_remote(&bus, plainMachineName(machine).c_str());
    if (r < 0) {
        return nullptr;
    }
    return BusPtr(bus);
}

}  // namespace

std::string plainMachineName(const std::string& machine) {
    const std::size_t start = machine.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : machine.substr(start);
}

bool isLocalMachine(const std::string& machine) {
    const std::string name = lower(plainMachineName(machine));
    if (name.empty() || name == "." || name == "localhost" || name == "::1" || name.starts_with("127.")) {
        return true;
    }
    const std::string self = lower(hostName());
    if (self.empty()) {
        return false;
    }
    const std::string shortSelf = self.substr(0, self.find('.'));
    return name == self || name == shortSelf;
}

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
