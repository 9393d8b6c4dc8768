// The system bus of a machine, as service control and remote reboot reach systemd and
// logind: this machine's own bus, or another machine's over SSH. Owning wrappers for the
// bus, its messages and its errors.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusClose>;

struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

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

// The machine name without the leading backslashes of a Windows-style name.
std::string plainMachineName(const std::string& machine);

// Whether the machine name means this machine: empty, ".", "localhost", a loopback
// address or this machine's own name, long or short (leading backslashes are ignored).
bool isLocalMachine(const std::string& machine);

// Opens the system bus of the machine; returns the negative errno of sd-bus on failure.
int openSystemBus(const std::string& machine, BusPtr& bus);
