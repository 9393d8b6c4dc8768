// Rebooting a machine when a host goes down: logind is asked, on the machine's own system
// bus, to show a wall message and reboot a little later.
#pragma once

#include <chrono>
#include <string>

#include "platform/SystemBus.h"

enum class RebootResult {
    Requested,   // the reboot is scheduled
    Refused,     // the machine could not be reached or refused the request
    NoFacility,  // the machine has no login manager to ask
    NoFunction,  // its login manager cannot schedule a reboot
};

class RebootRequester {
  public:
    virtual ~RebootRequester() = default;
    virtual RebootResult requestReboot(const std::string& machine, const std::string& message,
                                       std::chrono::seconds delay) = 0;
};

// Through logind over sd-bus: this machine on the system bus, another machine through
// "ssh machine systemd-stdio-bridge" (as systemctl -H does).
// Each call waits at most kBusCallLimit, the connection included in the first.
class LogindRebootRequester final : public RebootRequester {
  public:
    RebootResult requestReboot(const std::string& machine, const std::string& message,
                               std::chrono::seconds delay) override;
    // Ends a request that waits for the machine: it is then refused. Safe from any thread.
    void cancel() noexcept { cancel_.cancel(); }

  private:
    BusCancel cancel_;
};
