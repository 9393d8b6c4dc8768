// The system bus of a machine, as service control and remote reboot reach systemd and
// logind: this machine's own bus, or another machine's over SSH. Owning wrappers for the
// bus, its messages and its errors, and method calls that end at a deadline or when another
// thread cancels them.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/WakeupEvent.h"

struct BusClose {
    // Every call waits for its reply, so nothing is left to flush; a flush would wait for a
    // peer that stopped answering without limit.
    void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
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
    // Whether the peer answered with an error (rather than not at all).
    bool isSet() const { return sd_bus_error_is_set(&error_) != 0; }

  private:
    sd_bus_error error_{nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL is a C compound literal
};

// Ends the bus calls that one user (the monitor's checks, the actions, a service list) is
// waiting for, from another thread.
class BusCancel : public WakeupEvent {
  public:
    // Ends the call that waits now, or else the next one; safe from any thread.
    void cancel() noexcept { signal(); }
    // Forgets a cancel that reached no call; the waiting side does this before it begins.
    void clear() noexcept { drain(); }
};

// How long one call may wait for its reply; the first call on a new connection also waits
// for the connection within it. A machine reached over SSH may be slow, but no call may hang
// its caller.
inline constexpr std::chrono::seconds kBusCallLimit{15};

// When a call must have its reply, and what else ends its wait.
struct BusLimit {
    std::chrono::steady_clock::time_point deadline;
    BusCancel* cancel = nullptr;  // none: only the deadline ends a wait

    // A limit of kBusCallLimit from now.
    static BusLimit fromNow(BusCancel* cancel) {
        return BusLimit{std::chrono::steady_clock::now() + kBusCallLimit, cancel};
    }
};

// The machine name without the leading backslashes of a Windows-style name.
std::string plainMachineName(const std::string& machine);

// Whether the machine name means this machine: empty, ".", "localhost", a loopback
// address (127.0.0.1, ::1 or [::1]) or this machine's own name, long or short (leading backslashes are
// ignored).
bool isLocalMachine(const std::string& machine);

// Starts connecting to the system bus of the machine; returns the negative errno of sd-bus
// on failure. The connection completes during the first call, whose limit bounds it.
// Another machine ("[user@]host[:port]", an IPv6 address as it is or in brackets,
// "[2001:db8::1]:2222") is reached through "ssh host systemd-stdio-bridge", without any prompt.
int openSystemBus(const std::string& machine, BusPtr& bus);

// A method call, ready for its arguments; the negative errno on failure.
int newMethodCall(sd_bus* bus, const char* destination, const char* path, const char* interface,
                  const char* member, MessagePtr& call);

// Sends the call and waits for its reply until the limit's deadline or its cancel. Returns
// >= 0 with the reply, else the negative errno: -ETIMEDOUT past the deadline, -ECANCELED when
// cancelled, or the one an error reply maps to (its name and text then in error).
int callMethod(sd_bus* bus, sd_bus_message* call, const BusLimit& limit, BusError& error, MessagePtr& reply);
