#include "core/Monitor.h"

#include <chrono>

namespace {

constexpr std::chrono::milliseconds kCountdownStep{1000};
constexpr std::chrono::milliseconds kDoneTestStep{100};
constexpr std::chrono::milliseconds kCancelRetry{20};

void applySuccess(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    if (snap.isDown()) {
        ctx.alerts.logEvent("Server Up: " + snap.name, now);
        ctx.alerts.runUpActions(snap, now);
    }
    snap.status = StatusSuccess;
    snap.goodCount += 1;
    snap.consecutiveFailures = 0;
}

void applyFailure(ServerItem& snap) {
    snap.status = StatusFailure;
    snap.badCount += 1;
    snap.consecutiveFailures += 1;
}

void pingTries(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    ctx.probes.setPingAddress(snap.address);
    const std::string total = stringify(snap.numPings);
    for (std::int32_t k = 1; k <= snap.numPings && !ctx.flags.abort; ++k) {
        ctx.view.setStatusText("Checking: " + snap.name + " (Ping " + stringify(k) + " of " + total + ")");
        if (ctx.probes.ping() == 1) {
            applySuccess(ctx, snap, now);
            return;
        }
    }
    applyFailure(snap);
}

void failedToCheck(MonitorContext& ctx, ServerItem& snap) {
    ctx.alerts.logEvent("Failed to check service for item: " + snap.name, ctx.clock.now());
    snap.status = StatusFailure;
}

void serviceQuery(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
    ServiceHandle handle = ctx.probes.openServiceManager(snap.address);
    if (!handle) {
        failedToCheck(ctx, snap);
        return;
    }
    bool running = false;
    if (!ctx.probes.queryServiceRunning(*handle, snap.service, running)) {
        failedToCheck(ctx, snap);
    } else if (running) {
        // A Service host reports "up" after every successful check, not only after a
        // down period.
        ctx.alerts.logEvent("Server Up: " + snap.name, now);
        ctx.alerts.runUpActions(snap, now);
        snap.status = StatusSuccess;
        snap.goodCount += 1;
        snap.consecutiveFailures = 0;
    } else {
        applyFailure(snap);
    }
    ctx.probes.closeServiceManager(std::move(handle));
}

// Runs the probe of the host's type on the snapshot; false when no probe applies.
bool probe(MonitorContext& ctx, ServerItem& snap, std::time_t now) {
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
                return false;
        }
        if (ok) {
            applySuccess(ctx, snap, now);
        } else {
            applyFailure(snap);
        }
        return true;
    }
    if (snap.type == HostPing) {
        pingTries(ctx, snap, now);
        return true;
    }
    serviceQuery(ctx, snap, now);
    return true;
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

    const bool probed = probe(ctx, snap, now);

    ctx.doc.writeBack(*taken, snap);

    ctx.view.showRowCounts(index, snap);
    if (snap.status != StatusSuccess && snap.consecutiveFailures == snap.failuresAllowed + 1) {
        ctx.alerts.logEvent("Server Down: " + snap.name, now);
        ctx.alerts.runDownActions(snap, now);
    }
    ctx.view.showRowStatus(index, snap);
    return probed;
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
        std::size_t probed = 0;
        for (std::size_t i = 0; i < ctx.doc.count() && !ctx.flags.abort; ++i) {
            if (checkHost(ctx, i)) {
                ++probed;
            }
        }
        if (ctx.flags.abort) {
            continue;
        }
        ctx.view.refreshHostRows();
        const long long steps = static_cast<long long>(ctx.cfg.interval()) * 60;
        if (steps > 0) {
            countdown(ctx, steps);
        } else if (probed == 0) {
            // With no countdown and nothing checked, the next cycle would follow at once
            // and spin; one step keeps an empty or unchecked list from burning a core.
            ctx.clock.sleepFor(kCountdownStep);
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
