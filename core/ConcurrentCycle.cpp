#include "core/ConcurrentCycle.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/CycleOrder.h"
#include "core/HostCheck.h"
#include "core/ProbePool.h"

namespace {

// A host a worker has taken: its snapshot, the ping try under way and, once the probe has
// ended, its result.
struct Slot {
    ServerDoc::Snapshot taken;
    std::time_t now = 0;
    std::int32_t pingTry = 0;
    std::optional<ProbeResult> result;
};

class Cycle {
  public:
    explicit Cycle(MonitorContext& ctx) : ctx_(ctx), order_(ctx.doc) {}
    void run(std::size_t workers);

  private:
    void work(HostProbes& probes);
    // With the lock held: the slot of the host taken at position `index` of the cycle.
    Slot& slotOf(std::size_t index) { return slots_[index - head_]; }
    // With the lock held: whether the applying thread has something to do.
    bool due() const;

    MonitorContext& ctx_;
    // Parents before their children, so a child's result is applied knowing theirs.
    const CycleOrder order_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Hosts head_ .. next_ - 1 are taken and wait in slots_ to be applied; those from
    // marked_ on have not been shown as being checked yet.
    std::size_t head_ = 0;
    std::size_t marked_ = 0;
    std::size_t next_ = 0;
    std::deque<Slot> slots_;
    bool listEnded_ = false;
    std::size_t working_ = 0;
    // What the status text shows: the host and its ping try.
    std::optional<std::pair<std::size_t, std::int32_t>> shown_;
};

void Cycle::work(HostProbes& probes) {
    std::unique_lock lock(mutex_);
    while (!listEnded_ && !ctx_.flags.abort) {
        std::optional<ServerDoc::Snapshot> taken = ctx_.doc.snapshot(order_.indexAt(next_));
        if (!taken) {
            listEnded_ = true;
            break;
        }
        const std::size_t index = next_++;
        const ServerItem item = taken->item;
        const HostExtras extras = taken->extras;
        Slot& slot = slots_.emplace_back();
        slot.taken = std::move(*taken);
        slot.now = ctx_.clock.now();
        changed_.notify_all();
        lock.unlock();

        ProbeResult result = runProbe(
            probes, ctx_.flags.abort, ctx_.clock, item, extras,
            [this, index](std::int32_t k) {
                std::lock_guard inner(mutex_);
                slotOf(index).pingTry = k;
                changed_.notify_all();
            },
            false);

        lock.lock();
        slotOf(index).result = std::move(result);
        changed_.notify_all();
    }
    --working_;
    changed_.notify_all();
}

bool Cycle::due() const {
    if (ctx_.flags.abort || marked_ < next_) {
        return true;
    }
    if (slots_.empty()) {
        return working_ == 0;
    }
    const Slot& head = slots_.front();
    return head.result || !shown_ || shown_->first != head_ || shown_->second != head.pingTry;
}

void Cycle::run(std::size_t workers) {
    {
        std::lock_guard lock(mutex_);
        working_ = workers;
    }
    ctx_.pool->start(workers, [this](HostProbes& probes) { work(probes); });

    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return due(); });
        // After the close nothing more is applied: a result still waiting counts as a host
        // the cycle did not reach.
        if (ctx_.flags.abort || (slots_.empty() && working_ == 0)) {
            break;
        }
        std::vector<ServerDoc::Snapshot> newlyTaken;
        for (; marked_ < next_; ++marked_) {
            const ServerDoc::Snapshot& taken = slotOf(marked_).taken;
            newlyTaken.push_back({{}, taken.id, taken.index, {}});
        }
        std::string status;
        std::optional<Slot> done;
        if (!slots_.empty()) {
            const Slot& head = slots_.front();
            if (!shown_ || shown_->first != head_ || shown_->second != head.pingTry) {
                shown_.emplace(head_, head.pingTry);
                status = head.pingTry > 0 ? pingStatusText(head.taken.item, head.pingTry)
                                          : "Checking: " + head.taken.item.name;
            }
            if (head.result) {
                done = std::move(slots_.front());
                slots_.pop_front();
                ++head_;
            }
        }
        lock.unlock();
        // The arrow goes to the row the host has now: rows before it may have gone since.
        for (const ServerDoc::Snapshot& taken : newlyTaken) {
            if (const std::optional<std::size_t> row = ctx_.doc.indexOf(taken)) {
                ctx_.view.markRowChecking(*row);
            }
        }
        if (!status.empty()) {
            ctx_.view.setStatusText(status);
        }
        if (done) {
            applyResult(ctx_, done->taken, std::move(*done->result), done->now);
        }
        lock.lock();
    }
    lock.unlock();
    // Until every worker has left the cycle, including those still waiting on a cancelled
    // probe after the close.
    ctx_.pool->wait();
}

}  // namespace

bool runConcurrentCycle(MonitorContext& ctx, std::size_t workers) {
    workers = std::min(workers, ctx.doc.count());
    workers = std::min(workers, ctx.pool->reserve(workers));
    if (workers == 0) {
        return false;
    }
    Cycle(ctx).run(workers);
    return true;
}
