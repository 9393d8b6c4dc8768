// A private D-Bus daemon that stands in for the system bus (or the session bus), with
// python3-dbusmock templates (systemd, logind, notification_daemon ...) on it. While a
// DbusMock lives, DBUS_SYSTEM_BUS_ADDRESS (DBUS_SESSION_BUS_ADDRESS) points at it, so
// sd_bus_open_system() in the code under test reaches the mocks.
//
// Create it on a thread that outlives it (the test's main thread, e.g. in SetUpTestSuite):
// the processes it starts end when that thread does.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"

struct sd_bus;

class DbusMock {
  public:
    enum class Bus { System, Session };

    // Starts the daemon; throws std::runtime_error with the reason when it cannot.
    explicit DbusMock(Bus stands = Bus::System);
    ~DbusMock();
    DbusMock(const DbusMock&) = delete;
    DbusMock& operator=(const DbusMock&) = delete;

    const std::string& address() const { return address_; }
    // The test's own connection to the bus.
    sd_bus* bus() const { return bus_; }

    // Starts /usr/bin/python3 -m dbusmock with the template and waits until busName is owned.
    void startTemplate(const std::string& templateName, const std::string& busName,
                       const std::string& parametersJson = {});

    // org.freedesktop.DBus.Mock.AddMethod on an object of a mock: code is Python with `self`,
    // `args`, `objects` and `dbus` at hand; it sets `ret` to answer.
    void addMethod(const std::string& busName, const std::string& path, const std::string& interface,
                   const std::string& name, const std::string& inSig, const std::string& outSig,
                   const std::string& code);
    // The names of the methods called on the object, in order (org.freedesktop.DBus.Mock.GetCalls).
    std::vector<std::string> calls(const std::string& busName, const std::string& path);
    void clearCalls(const std::string& busName, const std::string& path);

  private:
    TempDir dir_;
    const char* variable_;
    bool system_;
    std::string address_;
    std::string previousAddress_;
    bool hadPreviousAddress_ = false;
    pid_t daemon_ = -1;
    std::vector<pid_t> mocks_;
    sd_bus* bus_ = nullptr;
};

// systemd's manager on a DbusMock, with the methods the template lacks: LoadUnit,
// ListUnits, ListUnitFiles and ListUnitsByNames, over units the test adds.
class SystemdMock {
  public:
    static constexpr const char* kBusName = "org.freedesktop.systemd1";
    static constexpr const char* kPath = "/org/freedesktop/systemd1";

    struct Unit {
        std::string name;  // full unit name, "cups.service"
        std::string description;
        std::string activeState = "inactive";
        std::string loadState = "loaded";
        // In memory (listed by ListUnits) or only on disk (listed by ListUnitFiles, loaded on
        // request).
        bool loaded = true;
        // Has a unit file, with this state in ListUnitFiles ("" for none).
        std::string fileState = "enabled";
    };

    explicit SystemdMock(DbusMock& bus);

    void addUnit(const Unit& unit);
    void setActiveState(const std::string& name, const std::string& state);
    // Makes ListUnits answer with the D-Bus error of that name; "" lists again.
    void failListings(const std::string& errorName);
    // Makes the next ListUnits answer only after that many seconds (the mock answers nothing
    // else meanwhile).
    void delayNextListing(int seconds);
    // A unit file without a unit object (a template, an alias).
    void addUnitFile(const std::string& path, const std::string& state);
    // The names of the methods called on the manager, in order.
    std::vector<std::string> managerCalls() { return bus_.calls(kBusName, kPath); }
    void clearManagerCalls() { bus_.clearCalls(kBusName, kPath); }

    static std::string unitPath(const std::string& name);

  private:
    DbusMock& bus_;
};
