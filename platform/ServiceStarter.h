// Starting a service on a host's machine when the host goes down.
#pragma once

#include <string>

#include "core/Monitor.h"

class ServiceStarter {
  public:
    virtual ~ServiceStarter() = default;
    // Null when the machine's service manager cannot be reached.
    virtual ServiceHandle openServiceManager(const std::string& machine) = 0;
    // Whether the service was started (one that already runs is not).
    virtual bool startServiceByName(ServiceManagerHandle& handle, const std::string& service) = 0;
    virtual void closeServiceManager(ServiceHandle handle) = 0;
};
