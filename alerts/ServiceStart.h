// Starting a service through the probes' service control (systemd over D-Bus).
#pragma once

#include "platform/ServiceStarter.h"

class SystemdServiceStarter final : public ServiceStarter {
  public:
    ServiceHandle openServiceManager(const std::string& machine) override;
    bool startServiceByName(ServiceManagerHandle& handle, const std::string& service) override;
    void closeServiceManager(ServiceHandle handle) override;
};
