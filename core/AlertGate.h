// Decides whether the actions of a host's transition run: a muted host's wait, a host whose
// parent is down does not run them at all, and a flapping host's wait until it is stable. The
// checks, counts and log lines go on all the while; each line of a transition whose actions
// did not run says why. When a host is neither muted nor flapping any more and its state
// differs from the one its last action reported, the action for its state runs once.
#pragma once

#include <cstddef>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "core/Flapping.h"
#include "core/Monitor.h"

// Whether a transition's actions run, and what its log line says after the event text.
struct GateVerdict {
    bool run = true;
    std::string note;
};

// Where one host stands, for the rows, the metrics and the history.
struct QuietState {
    bool muted = false;
    bool flapping = false;
    // Down while a parent is down, and not reported.
    bool suppressed = false;
};

class AlertGate {
  public:
    // Each check applied, once its result is written back: notes the host's state for its
    // flapping judgement, with its log line when that changes; says whether the host is muted
    // and flapping now.
    QuietState checked(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                       bool counted, std::time_t now);
    // The verdicts on a transition up and down; row is where the host is now.
    GateVerdict up(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                   std::time_t now);
    GateVerdict down(MonitorContext& ctx, const ServerDoc::Snapshot& taken, std::size_t row,
                     const ServerItem& host, std::time_t now);
    // Last of each check: runs an action held before, when the host is free again.
    void settle(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                std::time_t now);

    // Safe from any thread.
    QuietState stateOf(ServerDoc::ItemId id, const std::string& name, const HostMutes& mutes,
                       std::time_t now) const;

  private:
    struct Host {
        std::string name;
        // Whether the last action that ran (or the state the host was first seen in) said down.
        bool toldDown = false;
        bool suppressed = false;
        std::string suppressedBy;
        // Why an action waited: " (muted)", " (flapping)"; empty when none waits.
        std::string heldFor;
        FlapHistory flaps;
    };
    // With the lock held.
    Host& hostOf(const ServerDoc::Snapshot& taken);
    // The hold of a muted or flapping host, with the lock held.
    std::string holdOf(MonitorContext& ctx, const Host& h, const std::string& name, std::time_t now) const;

    mutable std::mutex mutex_;
    std::map<ServerDoc::ItemId, Host> hosts_;
};

// The same steps as they read in the check: with no gate every action runs.
inline QuietState gateChecked(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                              bool counted, std::time_t now) {
    return ctx.gate != nullptr ? ctx.gate->checked(ctx, taken, host, counted, now) : QuietState{};
}
inline GateVerdict gateUp(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                          std::time_t now) {
    return ctx.gate != nullptr ? ctx.gate->up(ctx, taken, host, now) : GateVerdict{};
}
inline GateVerdict gateDown(MonitorContext& ctx, const ServerDoc::Snapshot& taken, std::size_t row,
                            const ServerItem& host, std::time_t now) {
    return ctx.gate != nullptr ? ctx.gate->down(ctx, taken, row, host, now) : GateVerdict{};
}
inline void gateSettle(MonitorContext& ctx, const ServerDoc::Snapshot& taken, const ServerItem& host,
                       std::time_t now) {
    if (ctx.gate != nullptr) {
        ctx.gate->settle(ctx, taken, host, now);
    }
}
