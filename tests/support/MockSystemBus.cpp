#include "support/MockSystemBus.h"

#include <stdexcept>

#include "support/TempDir.h"

MockSystemBus::MockSystemBus() {
    socket_ = dir_.file("system_bus_socket");
    address_ = "unix:path=" + socket_;
    daemon_ =
        std::make_unique<SpawnedProcess>(std::vector<std::string>{"dbus-daemon", "--session", "--nofork",
                                                                  "--nopidfile", "--address=" + address_},
                                         std::vector<std::string>{}, dir_.file("dbus-daemon.out"));
    const bool up = waitUntil([this] {
        return runProgram({"dbus-send", "--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"}) == 0;
    });
    if (!up) {
        throw std::runtime_error("the private bus did not come up: " +
                                 readFileBytes(dir_.file("dbus-daemon.out")));
    }
}

MockSystemBus::~MockSystemBus() {
    mocks_.clear();
    daemon_.reset();
}

bool MockSystemBus::nameOwned(const std::string& busName) const {
    std::string out;
    runProgram({"dbus-send", "--bus=" + address_, "--print-reply", "--dest=org.freedesktop.DBus",
                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + busName},
               &out);
    return out.find("boolean true") != std::string::npos;
}

void MockSystemBus::startTemplate(const std::string& templateName, const std::string& busName) {
    mocks_.push_back(std::make_unique<SpawnedProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", templateName,
                                 "-l", dir_.file(templateName + ".calls")},
        std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, dir_.file(templateName + ".out")));
    if (!waitUntil([&] { return nameOwned(busName); })) {
        throw std::runtime_error("dbusmock " + templateName +
                                 " did not start: " + readFileBytes(dir_.file(templateName + ".out")));
    }
}

void MockSystemBus::addMethod(const std::string& busName, const std::string& path,
                              const std::string& interface, const std::string& method,
                              const std::string& inSig, const std::string& outSig, const std::string& code) {
    std::string out;
    const int r = runProgram({"dbus-send", "--bus=" + address_, "--print-reply", "--dest=" + busName, path,
                              "org.freedesktop.DBus.Mock.AddMethod", "string:" + interface,
                              "string:" + method, "string:" + inSig, "string:" + outSig, "string:" + code},
                             &out);
    if (r != 0) {
        throw std::runtime_error("AddMethod " + method + " failed: " + out);
    }
}

std::string MockSystemBus::callLog(const std::string& templateName) const {
    return readFileBytes(dir_.file(templateName + ".calls"));
}
