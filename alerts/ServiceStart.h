// Starting a service through the probes' service control (systemd over D-Bus).
#pragma once

#include "platform/ServiceStarter.h"
#include "platform/SystemBus.h"

class SystemdServiceStarter final : public ServiceStarter {
  public:
    ServiceHandle openServiceManager(const std::string& machine) override;
    bool startServiceByName(ServiceManagerHandle& handle, const std::string& service) override;
    void closeServiceManager(ServiceHandle handle) override;
    // Ends an open or a start that waits for the machine: it then fails. Safe from any thread.
    void cancel() noexcept { cancel_.cancel(); }

  private:
    BusCancel cancel_;
};
