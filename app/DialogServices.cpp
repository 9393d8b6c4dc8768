#include "app/DialogServices.h"

std::string serviceLine(const ServiceEntry& entry) {
    return entry.serviceName + " (" + entry.displayName + ") - " +
           (entry.running ? "Running" : "Not Running");
}
