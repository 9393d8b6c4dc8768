#include "alerts/ServiceStart.h"

#include "probes/ServiceControl.h"

ServiceHandle SystemdServiceStarter::openServiceManager(const std::string& machine) {
    return OpenServiceManager(machine, &cancel_);
}

bool SystemdServiceStarter::startServiceByName(ServiceManagerHandle& handle, const std::string& service) {
    return StartServiceByName(handle, service);
}

void SystemdServiceStarter::closeServiceManager(ServiceHandle handle) {
    CloseServiceManager(std::move(handle));
}
