#include "core/AlertGate.h"

#include <optional>
#include <vector>

#include "core/HostParents.h"

namespace {

// The first of the host's parents that is down now; the host itself never counts.
std::optional<std::string> parentDown(const ServerDoc& doc, const HostExtras& extras, std::size_t row) {
    const std::vector<std::string> parents = parentNames(extras);
    if (parents.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> down;
    doc.withItems([&](const std::vector<ServerItem>& items) {
        for (const std::string& name : parents) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (items[i].name == name) {
                    if (i != row && items[i].isDown()) {
                        down = name;
                    }
                    break;
                }
            }
            if (down) {
                return;
            }
        }
    });
    return down;
}

}  // namespace

AlertGate::Host& AlertGate::hostOf(const ServerDoc::Snapshot& taken) {
    // A document read again numbers its hosts anew: the same number is the same host only
    // under the same name, so a reload of the same list keeps what waits.
    auto [it, added] = hosts_.try_emplace(taken.id);
    if (added || it->second.name != taken.item.name) {
        // Whatever state the host had before it was first checked here was reported by
        // someone else (or by nobody, when it starts up): it is the state to differ from.
        it->second = Host{};
        it->second.name = taken.item.name;
        it->second.toldDown = taken.item.isDown();
    }
    return it->second;
}

std::string AlertGate::holdOf(MonitorContext& ctx, const Host& h, const std::string& name,
                              std::time_t now) const {
    if (isMuted(ctx.cfg.extra().monitor.mutes, name, now)) {
        return " (muted)";
    }
    return h.flaps.flapping() ? " (flapping)" : "";
}

QuietState AlertGate::checked(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                              bool counted, std::time_t now) {
    const MonitorSettings settings = ctx.cfg.extra().monitor;
    std::unique_lock lock(mutex_);
    Host& h = hostOf(taken);
    QuietState state;
    state.muted = isMuted(settings.mutes, host.name, now);
    if (!counted) {
        state.flapping = h.flaps.flapping();
        return state;
    }
    // Judged on the up and down states, so single failures a host is allowed do not count.
    h.flaps.add(host.isDown());
    const bool changed = h.flaps.judge(settings.flapStart, settings.flapStop);
    state.flapping = h.flaps.flapping();
    if (changed) {
        lock.unlock();
        ctx.alerts.logEvent((state.flapping ? "Server Flapping: " : "Server Stable: ") + host.name, now);
    }
    return state;
}

GateVerdict AlertGate::up(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                          std::time_t now) {
    std::lock_guard lock(mutex_);
    Host& h = hostOf(taken);
    const bool wasSuppressed = h.suppressed;
    h.suppressed = false;
    if (std::string hold = holdOf(ctx, h, host.name, now); !hold.empty()) {
        h.heldFor = hold;
        return {false, hold};
    }
    // Nobody was told it went down, so nobody is told it came back.
    if (wasSuppressed && !h.toldDown) {
        return {false, " (" + h.suppressedBy + " was down)"};
    }
    if (!h.heldFor.empty() && !h.toldDown) {
        h.heldFor.clear();
        return {false, " (down not reported)"};
    }
    h.toldDown = false;
    h.heldFor.clear();
    return {};
}

GateVerdict AlertGate::down(MonitorContext& ctx, const ServerDoc::Snapshot& taken, std::size_t row,
                            const ServerItem& host, std::time_t now) {
    const std::optional<std::string> parent = parentDown(ctx.doc, taken.extras, row);
    std::lock_guard lock(mutex_);
    Host& h = hostOf(taken);
    if (parent) {
        // A muted parent suppresses its children all the same: the cause is known.
        h.suppressed = true;
        h.suppressedBy = *parent;
        return {false, " (" + *parent + " is down)"};
    }
    if (std::string hold = holdOf(ctx, h, host.name, now); !hold.empty()) {
        h.heldFor = hold;
        return {false, hold};
    }
    if (!h.heldFor.empty() && h.toldDown) {
        h.heldFor.clear();
        return {false, " (up not reported)"};
    }
    h.toldDown = true;
    h.heldFor.clear();
    return {};
}

void AlertGate::settle(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                       std::time_t now) {
    std::unique_lock lock(mutex_);
    Host& h = hostOf(taken);
    if (h.heldFor.empty() || !holdOf(ctx, h, host.name, now).empty()) {
        return;
    }
    const std::string why = h.heldFor == " (muted)" ? " (after the mute)" : " (stable again)";
    h.heldFor.clear();
    const bool down = host.isDown();
    if (down == h.toldDown || (down && h.suppressed)) {
        return;
    }
    h.toldDown = down;
    lock.unlock();
    if (down) {
        ctx.alerts.logEvent("Server Down: " + host.name + why, now);
        ctx.alerts.runDownActions(host, now);
    } else {
        ctx.alerts.logEvent("Server Up: " + host.name + why, now);
        ctx.alerts.runUpActions(host, now);
    }
}

QuietState AlertGate::stateOf(ServerDoc::ItemId id, const std::string& name, const HostMutes& mutes,
                              std::time_t now) const {
    QuietState state;
    state.muted = isMuted(mutes, name, now);
    std::lock_guard lock(mutex_);
    if (const auto it = hosts_.find(id); it != hosts_.end() && it->second.name == name) {
        state.flapping = it->second.flaps.flapping();
        state.suppressed = it->second.suppressed;
    }
    return state;
}
