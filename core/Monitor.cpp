#include "core/Monitor.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "core/ConcurrentCycle.h"
#include "core/CycleOrder.h"
#include "core/HostCheck.h"
#include "core/ProbePool.h"

namespace {

constexpr std::chrono::milliseconds kCountdownStep{1000};
constexpr std::chrono::milliseconds kDoneTestStep{100};
constexpr std::chrono::milliseconds kCancelRetry{20};
// With no countdown, a cycle lasts at least this long, so a list of hosts that fail at
// once cannot make the thread spin.
constexpr std::chrono::milliseconds kShortestCycle{1000};

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
    const ServerItem& item = taken->item;
    ctx.view.markRowChecking(index);
    ctx.view.setStatusText("Checking: " + item.name);
    const std::time_t now = ctx.clock.now();
    ProbeResult result = runProbe(
        ctx.probes, ctx.flags.abort, ctx.clock, item, taken->extras,
        [&](std::int32_t k) { ctx.view.setStatusText(pingStatusText(item, k)); }, true);
    return applyResult(ctx, *taken, std::move(result), now);
}

void runCycle(MonitorContext& ctx) {
    std::size_t atOnce = 1;
    if (ctx.pool != nullptr) {
        const auto asked = static_cast<std::size_t>(usableChecksAtOnce(ctx.cfg.extra().monitor.checksAtOnce));
        // An idle worker still holds its sockets: fewer checks at once end the workers no
        // longer needed (all of them for one at a time, which uses the thread's own probes).
        ctx.pool->shrink(asked > 1 ? asked : 0);
        atOnce = std::max<std::size_t>(1, std::min(asked, ctx.pool->most()));
        if (atOnce < asked && ctx.pool->cutToBeTold(asked)) {
            const std::string text = "Running " + stringify(static_cast<long long>(atOnce)) +
                                     (atOnce == 1 ? " check" : " checks") + " at once instead of " +
                                     stringify(static_cast<long long>(asked)) +
                                     ": the limit on open files leaves no room for more";
            ctx.view.setStatusText(text);
            ctx.alerts.logEvent(text, ctx.clock.now());
        }
    }
    if (atOnce > 1 && runConcurrentCycle(ctx, atOnce)) {
        return;
    }
    const CycleOrder order(ctx.doc);
    for (std::size_t i = 0; i < ctx.doc.count() && !ctx.flags.abort; ++i) {
        checkHost(ctx, order.indexAt(i));
    }
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
        runCycle(ctx);
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
        if (ctx_.pool != nullptr) {
            ctx_.pool->cancelAll();
        }
        ctx_.alerts.cancel();
        std::this_thread::sleep_for(kCancelRetry);
    }
    thread_.join();
}
