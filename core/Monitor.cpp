#include "core/Monitor.h"

#include <chrono>
#include <cstdint>
#include <limits>

namespace {

constexpr std::chrono::milliseconds kCountdownStep{1000};
constexpr std::chrono::milliseconds kDoneTestStep{100};
constexpr std::chrono::milliseconds kCancelRetry{20};
// With no countdown, a cycle lasts at least this long, so a list of hosts that fail at
// once cannot make the thread spin.
constexpr std::chrono::milliseconds kShortestCycle{1000};

// One more, but never past the largest value: a document may hold any count.
std::int32_t plusOne(std::int32_t value) {
    return value < std::numeric_limits<std::int32_t>::max() ? value + 1 : value;
}

// How a host's probe ended.
enum class ProbeEnd {
    NotProbed,  // a TCP/IP host of an unknown sub-type: nothing ran, nothing changes
    Counted,    // a good or a bad check, counted
    Uncounted,  // the service could not be checked: logged, no counter changes
    CutShort,   // ended by the close of the window: no check at all
};

void applySuccess(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    if (snap.isDown()) {
        ctx.alerts.logEvent("Server Up: " + snap.name, now);
        ctx.alerts.runUpActions(snap, now);
    }
    snap.status = StatusSuccess;
    snap.goodCount = plusOne(snap.goodCount);
    snap.consecutiveFailures = 0;
}

void applyFailure(ServerItem& snap) {
    snap.status = StatusFailure;
    snap.badCount = plusOne(snap.badCount);
    snap.consecutiveFailures = plusOne(snap.consecutiveFailures);
}

ProbeEnd pingTries(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    ctx.probes.setPingAddress(snap.address);
    const std::string total = stringify(snap.numPings);
    for (std::int32_t k = 1; k <= snap.numPings && !ctx.flags.abort; ++k) {
        ctx.view.setStatusText("Checking: " + snap.name + " (Ping " + stringify(k) + " of " + total + ")");
        if (ctx.probes.ping() == 1) {
            applySuccess(ctx, snap, now);
            return ProbeEnd::Counted;
        }
    }
    if (ctx.flags.abort) {
        return ProbeEnd::CutShort;
    }
    applyFailure(snap);
    return ProbeEnd::Counted;
}

ProbeEnd failedToCheck(MonitorContext& ctx, ServerItem& snap) {
    ctx.alerts.logEvent("Failed to check service for item: " + snap.name, ctx.clock.now());
    snap.status = StatusFailure;
    return ProbeEnd::Uncounted;
}

ProbeEnd serviceQuery(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    ServiceHandle handle = ctx.probes.openServiceManager(snap.address);
    if (ctx.flags.abort) {
        if (handle) {
            ctx.probes.closeServiceManager(std::move(handle));
        }
        return ProbeEnd::CutShort;
    }
    if (!handle) {
        return failedToCheck(ctx, snap);
    }
    bool running = false;
    const bool queried = ctx.probes.queryServiceRunning(*handle, snap.service, running);
    ProbeEnd end = ProbeEnd::Counted;
    if (ctx.flags.abort) {
        end = ProbeEnd::CutShort;
    } else if (!queried) {
        end = failedToCheck(ctx, snap);
    } else if (running) {
        // A Service host reports "up" after every successful check, not only after a
        // down period.
        ctx.alerts.logEvent("Server Up: " + snap.name, now);
        ctx.alerts.runUpActions(snap, now);
        snap.status = StatusSuccess;
        snap.goodCount = plusOne(snap.goodCount);
        snap.consecutiveFailures = 0;
    } else {
        applyFailure(snap);
    }
    ctx.probes.closeServiceManager(std::move(handle));
    return end;
}

// Runs the probe of the host's type on the snapshot and applies its result.
ProbeEnd probe(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    if (snap.type == HostTcpIp) {
        bool ok = false;
        switch (snap.tcpType) {
            case TcpConnectOnly:
                ok = ctx.probes.checkTcpConnect(snap.address, snap.tcpPort);
                break;
            case TcpConnectReceive:
                ok = ctx.probes.checkTcpReceive(snap);
                break;
            case TcpConnectSendReceive:
                ok = ctx.probes.checkTcpSendReceive(snap);
                break;
            default:
                // An unknown sub-type is not checked: the host stays "checking" and no
                // counter changes.
                return ProbeEnd::NotProbed;
        }
        if (ctx.flags.abort) {
            return ProbeEnd::CutShort;
        }
        if (ok) {
            applySuccess(ctx, snap, now);
        } else {
            applyFailure(snap);
        }
        return ProbeEnd::Counted;
    }
    if (snap.type == HostPing) {
        return pingTries(ctx, snap, now);
    }
    return serviceQuery(ctx, snap, now);
}

void countdown(MonitorContext& ctx, long long steps) {
    for (long long s = 0; s < steps; ++s) {
        ctx.view.setStatusText(stringify(steps - s) + " seconds until next check.");
        ctx.clock.sleepFor(kCountdownStep);
        if (!ctx.flags.running || ctx.flags.abort) {
            ctx.view.setStatusText("Idle");
            return;
        }
        if (ctx.flags.checkNow) {
            return;
        }
    }
}

}  // namespace

bool checkHost(MonitorContext& ctx, std::size_t index) {
    std::optional<ServerDoc::Snapshot> taken = ctx.doc.snapshot(index);
    if (!taken) {
        return false;
    }
    ServerItem snap = taken->item;
    ctx.view.markRowChecking(index);
    ctx.view.setStatusText("Checking: " + snap.name);
    snap.status = StatusChecking;
    const std::time_t now = ctx.clock.now();

    const ProbeEnd end = probe(ctx, snap, now);
    if (end == ProbeEnd::CutShort) {
        // A probe cancelled by the close says nothing about the host: no counters, no
        // write-back, no row update and, above all, no down event while exiting.
        return false;
    }

    // The rows follow the host: hosts before it may have been added or removed meanwhile.
    const std::optional<std::size_t> row = ctx.doc.writeBack(*taken, snap);

    if (row) {
        ctx.view.showRowCounts(*row, snap);
    }
    // Down when the failures have just reached one past the allowed. A count that could not
    // grow any more (the largest value) has not just reached anything.
    const bool stuck =
        end == ProbeEnd::Counted && snap.consecutiveFailures == taken->item.consecutiveFailures;
    if (snap.status != StatusSuccess && !stuck &&
        static_cast<std::int64_t>(snap.consecutiveFailures) ==
            static_cast<std::int64_t>(snap.failuresAllowed) + 1) {
        ctx.alerts.logEvent("Server Down: " + snap.name, now);
        ctx.alerts.runDownActions(snap, now);
    }
    if (row) {
        ctx.view.showRowStatus(*row, snap);
    }
    return end != ProbeEnd::NotProbed;
}

namespace {

// Whether the thread goes on with another cycle; when not, it is marked done in the same
// step, so a Start can tell whether it still has a thread to rely on.
bool carryOn(MonitorFlags& flags) {
    std::lock_guard lock(flags.lifeMutex);
    if (flags.running && !flags.abort) {
        return true;
    }
    flags.threadDone = true;
    return false;
}

}  // namespace

int MonitorThreadProc(MonitorContext& ctx) {
    ctx.flags.threadDone = false;
    while (carryOn(ctx.flags)) {
        ctx.flags.checkNow = false;
        const std::chrono::milliseconds started = ctx.clock.elapsed();
        ctx.view.cycleStarted();
        for (std::size_t i = 0; i < ctx.doc.count() && !ctx.flags.abort; ++i) {
            checkHost(ctx, i);
        }
        if (ctx.flags.abort) {
            continue;
        }
        ctx.view.refreshHostRows();
        const long long steps = ctx.cfg.intervalSeconds();
        if (steps > 0) {
            countdown(ctx, steps);
        } else if (const auto spent = ctx.clock.elapsed() - started; spent < kShortestCycle) {
            // With no countdown the next cycle follows at once; a cycle shorter than a
            // second waits out the rest of it, so the thread never spins on hosts that fail
            // at once (or on an empty list) and the log does not fill up.
            ctx.clock.sleepFor(kShortestCycle - spent);
        }
    }
    return 0;
}

Monitor::~Monitor() {
    cancelAndJoin();
}

void Monitor::start() {
    if (ctx_.flags.running) {
        return;
    }
    {
        std::lock_guard lock(ctx_.flags.lifeMutex);
        ctx_.flags.running = true;
        if (thread_.joinable() && !ctx_.flags.threadDone) {
            return;
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    ctx_.flags.abort = false;
    ctx_.flags.running = true;
    ctx_.flags.threadDone = false;
    thread_ = std::thread([this] { MonitorThreadProc(ctx_); });
}

void Monitor::stop() {
    ctx_.flags.running = false;
}

bool Monitor::toggle() {
    if (ctx_.flags.running) {
        stop();
    } else {
        start();
    }
    return ctx_.flags.running;
}

bool Monitor::waitDone(int tries) {
    for (int i = 0; i < tries && !ctx_.flags.threadDone; ++i) {
        ctx_.clock.sleepFor(kDoneTestStep);
    }
    return ctx_.flags.threadDone;
}

void Monitor::cancelAndJoin() {
    ctx_.flags.running = false;
    if (!thread_.joinable()) {
        return;
    }
    ctx_.flags.abort = true;
    // A cancel that lands between two waits reaches nothing, so repeat it until the
    // thread has gone.
    while (!ctx_.flags.threadDone) {
        ctx_.probes.cancel();
        ctx_.alerts.cancel();
        std::this_thread::sleep_for(kCancelRetry);
    }
    thread_.join();
}
