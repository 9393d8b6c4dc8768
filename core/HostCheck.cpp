#include "core/HostCheck.h"

#include <limits>
#include <utility>

#include "core/AlertGate.h"
#include "core/CheckSettings.h"

namespace {

using End = ProbeResult::End;

// One more, but never past the largest value: a document may hold any count.
std::int32_t plusOne(std::int32_t value) {
    return value < std::numeric_limits<std::int32_t>::max() ? value + 1 : value;
}

End pingTries(HostProbes& probes, const std::atomic<bool>& abort, const ServerItem& item,
              const std::function<void(std::int32_t)>& onPingTry) {
    probes.setPingAddress(item.address);
    for (std::int32_t k = 1; k <= item.numPings && !abort; ++k) {
        onPingTry(k);
        if (probes.ping() == 1) {
            return End::Good;
        }
    }
    return abort ? End::CutShort : End::Bad;
}

ProbeResult serviceQuery(HostProbes& probes, const std::atomic<bool>& abort, Clock& clock,
                         const ServerItem& item, bool keepHandle) {
    ProbeResult result;
    ServiceHandle handle = probes.openServiceManager(item.address);
    if (abort) {
        if (handle) {
            probes.closeServiceManager(std::move(handle));
        }
        result.end = End::CutShort;
        return result;
    }
    if (!handle) {
        result.end = End::Uncounted;
        result.failedAt = clock.now();
        return result;
    }
    bool running = false;
    const bool queried = probes.queryServiceRunning(*handle, item.service, running);
    if (abort) {
        result.end = End::CutShort;
    } else if (!queried) {
        result.end = End::Uncounted;
        result.failedAt = clock.now();
    } else {
        result.end = running ? End::Running : End::Bad;
    }
    if (keepHandle && result.end != End::CutShort) {
        result.openHandle = std::move(handle);
    } else {
        probes.closeServiceManager(std::move(handle));
    }
    return result;
}

// The probe of the host's type.
ProbeResult probeOnce(HostProbes& probes, const std::atomic<bool>& abort, Clock& clock,
                      const ServerItem& item, const HostExtras& extras,
                      const std::function<void(std::int32_t)>& onPingTry, bool keepHandle) {
    ProbeResult result;
    if (item.type == HostTcpIp) {
        bool ok = false;
        const bool plainTcp = item.tcpType >= TcpConnectOnly && item.tcpType <= TcpConnectSendReceive;
        if (plainTcp && tlsSettingsOf(extras).mode != TlsMode::None) {
            ok = probes.checkTcpTls(item, extras);
        } else {
            switch (item.tcpType) {
                case TcpConnectOnly:
                    ok = probes.checkTcpConnect(item.address, item.tcpPort);
                    break;
                case TcpConnectReceive:
                    ok = probes.checkTcpReceive(item);
                    break;
                case TcpConnectSendReceive:
                    ok = probes.checkTcpSendReceive(item);
                    break;
                case TcpHttpRequest:
                    ok = probes.checkHttpRequest(item, extras);
                    break;
                default:
                    // An unknown sub-type is not checked: the host stays "checking" and no
                    // counter changes.
                    return result;
            }
        }
        result.end = abort ? End::CutShort : ok ? End::Good : End::Bad;
        return result;
    }
    if (item.type == HostPing) {
        result.end = pingTries(probes, abort, item, onPingTry);
        return result;
    }
    return serviceQuery(probes, abort, clock, item, keepHandle);
}

}  // namespace

std::string pingStatusText(const ServerItem& item, std::int32_t k) {
    return "Checking: " + item.name + " (Ping " + stringify(k) + " of " + stringify(item.numPings) + ")";
}

ProbeResult runProbe(HostProbes& probes, const std::atomic<bool>& abort, Clock& clock, const ServerItem& item,
                     const HostExtras& extras, const std::function<void(std::int32_t)>& onPingTry,
                     bool keepHandle) {
    const std::chrono::milliseconds started = clock.elapsed();
    ProbeResult result = probeOnce(probes, abort, clock, item, extras, onPingTry, keepHandle);
    result.took = clock.elapsed() - started;
    result.heldReports = probes.takeHeldReports();
    // Taken after every check, so a reason never outlives the check it belongs to.
    std::string reason = probes.takeFailureReason();
    if (result.end == End::Bad) {
        result.reason = std::move(reason);
    }
    result.certificateExpiry = probes.takeCertificateExpiry();
    return result;
}

bool applyResult(MonitorContext& ctx, const ServerDoc::Snapshot& taken, ProbeResult result, std::time_t now) {
    if (result.end == End::CutShort) {
        // A probe cancelled by the close says nothing about the host: no counters, no
        // write-back, no row update and, above all, no down event while exiting.
        return false;
    }
    ServerItem snap = taken.item;
    snap.status = StatusChecking;
    switch (result.end) {
        case End::Good:
        case End::Running:
            snap.status = StatusSuccess;
            snap.goodCount = plusOne(snap.goodCount);
            snap.consecutiveFailures = 0;
            break;
        case End::Bad:
            snap.status = StatusFailure;
            snap.badCount = plusOne(snap.badCount);
            snap.consecutiveFailures = plusOne(snap.consecutiveFailures);
            break;
        case End::Uncounted:
            snap.status = StatusFailure;
            break;
        case End::NotProbed:
        case End::CutShort:
            break;
    }

    // The rows follow the host: hosts before it may have been added or removed meanwhile.
    // A host that was removed, or whose document was replaced, while its probe ran is
    // monitored by nobody: its result is dropped, without events or actions. The actions
    // take their settings from the host as it is now, not as it was when the probe began.
    ServerItem host;
    const std::optional<std::size_t> row = ctx.doc.writeBack(taken, snap, &host);
    if (!row) {
        if (result.openHandle) {
            ctx.probes.closeServiceManager(std::move(result.openHandle));
        }
        return false;
    }

    for (const std::function<void()>& report : result.heldReports) {
        report();
    }
    const bool counted = result.end == End::Good || result.end == End::Running || result.end == End::Bad;
    const QuietState quiet = gateChecked(ctx, taken, host, counted, now);
    if (result.end == End::Running || (result.end == End::Good && taken.item.isDown())) {
        // A service host reports "up" after every successful check, not only after a down
        // period.
        const GateVerdict gate = gateUp(ctx, taken, host, now);
        ctx.alerts.logEvent("Server Up: " + host.name + gate.note, now);
        if (gate.run) {
            ctx.alerts.runUpActions(host, now);
        }
    } else if (result.end == End::Uncounted) {
        ctx.alerts.logEvent("Failed to check service for item: " + host.name, result.failedAt);
    }
    if (result.openHandle) {
        ctx.probes.closeServiceManager(std::move(result.openHandle));
    }

    ctx.view.checkTook(*row, result.took);
    if (result.certificateExpiry) {
        ctx.view.certificateSeen(*row, *result.certificateExpiry);
    }
    ctx.view.showRowCounts(*row, host);
    // Down when the failures have just reached one past the allowed. A count that could not
    // grow any more (the largest value) has not just reached anything.
    const bool stuck = counted && host.consecutiveFailures == taken.item.consecutiveFailures;
    const bool wentDown = host.status != StatusSuccess && !stuck &&
                          static_cast<std::int64_t>(host.consecutiveFailures) ==
                              static_cast<std::int64_t>(host.failuresAllowed) + 1;
    if (wentDown) {
        const GateVerdict gate = gateDown(ctx, taken, *row, host, now);
        ctx.alerts.logEvent("Server Down: " + host.name + gate.note, now);
        if (!result.reason.empty()) {
            ctx.alerts.logEvent("Reason: " + host.name + ": " + result.reason, now);
        }
        if (gate.run) {
            ctx.alerts.runDownActions(host, now);
        }
    }
    if (result.end == End::Bad && !result.reason.empty()) {
        ctx.view.setStatusText(host.name + ": " + result.reason);
    }
    gateSettle(ctx, taken, host, now);
    ctx.view.showRowStatus(*row, host);
    if (counted) {
        const bool good = result.end != End::Bad;
        ctx.view.checkApplied(*row, host,
                              AppliedCheck{now, good, result.took, std::move(result.reason),
                                           wentDown                      ? AppliedCheck::Change::WentDown
                                           : good && taken.item.isDown() ? AppliedCheck::Change::WentUp
                                                                         : AppliedCheck::Change::None,
                                           quiet.muted, quiet.flapping});
    }
    return result.end != End::NotProbed;
}
