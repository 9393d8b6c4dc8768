// A private D-Bus daemon with python3-dbusmock services on it, standing in for a machine's
// system bus (systemd, logind). Point DBUS_SYSTEM_BUS_ADDRESS at address() to use it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

class MockSystemBus {
  public:
    MockSystemBus();
    ~MockSystemBus();
    MockSystemBus(const MockSystemBus&) = delete;
    MockSystemBus& operator=(const MockSystemBus&) = delete;

    // "unix:path=..." of the bus.
    const std::string& address() const { return address_; }
    const std::string& socketPath() const { return socket_; }
    const TempDir& dir() const { return dir_; }

    // Starts the dbusmock template (e.g. "logind") as a system service on this bus and waits
    // until it owns busName. Its calls are logged (see callLog).
    void startTemplate(const std::string& templateName, const std::string& busName);
    // org.freedesktop.DBus.Mock.AddMethod on the object; code is Python run by the mock.
    void addMethod(const std::string& busName, const std::string& path, const std::string& interface,
                   const std::string& method, const std::string& inSig, const std::string& outSig,
                   const std::string& code);
    // The calls the template's objects received: one line each, "<time> <Method> <args>".
    std::string callLog(const std::string& templateName) const;

  private:
    bool nameOwned(const std::string& busName) const;

    TempDir dir_;
    std::string socket_;
    std::string address_;
    std::unique_ptr<SpawnedProcess> daemon_;
    std::vector<std::unique_ptr<SpawnedProcess>> mocks_;
};
