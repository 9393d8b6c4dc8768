// One check of one host in two halves: the probe, which may run on any thread with a probe
// set of its own and only says how the check ended, and the applying of that end (log lines,
// actions, counters, write-back, rows), which the monitor thread does in list order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Monitor.h"

// How a host's probe ended, before anything of it is applied.
struct ProbeResult {
    enum class End {
        NotProbed,  // a TCP/IP host of an unknown sub-type: nothing ran
        Good,       // a TCP/IP or ping host answered
        Running,    // a service host's service runs: "up" after every such check
        Bad,        // no answer, or the service does not run
        Uncounted,  // the service could not be checked: logged, no counter changes
        CutShort,   // ended by the close of the window: no check at all
    };
    End end = End::NotProbed;
    // Uncounted: when the failure was found; its log line carries this time.
    std::time_t failedAt = 0;
    // A service connection left open for the applying to close, when the probe ran on the
    // monitor thread itself (the order of one host after another closes it after the log
    // line of its result).
    ServiceHandle openHandle;
    // What the probe set held back during the check, said before the result is applied.
    std::vector<std::function<void()>> heldReports;
    // How long the probe itself took, without any wait for its turn to be applied.
    std::chrono::milliseconds took{0};
    // Bad: why, as the probe set told it; empty when it could not tell.
    std::string reason;
    // The earliest expiry of the server's certificates, when the check made a handshake.
    std::optional<std::time_t> certificateExpiry;
};

// "Checking: name (Ping k of total)", shown before ping try k of a host.
std::string pingStatusText(const ServerItem& item, std::int32_t k);

// Runs the probe of the host's type with probes. onPingTry(k) is called before ping try
// k. With keepHandle a service connection that answered stays open in the result.
// extras are the host's extended settings (web checks, TLS).
ProbeResult runProbe(HostProbes& probes, const std::atomic<bool>& abort, Clock& clock, const ServerItem& item,
                     const HostExtras& extras, const std::function<void(std::int32_t)>& onPingTry,
                     bool keepHandle);

// Applies the result of the probe of the snapshot taken at `now`: log lines and actions,
// counters, the write-back and the row (monitor thread). Returns false when the host ran
// no probe, the close cut it short, or the host has gone meanwhile (nothing is applied).
bool applyResult(MonitorContext& ctx, const ServerDoc::Snapshot& taken, ProbeResult result, std::time_t now);
