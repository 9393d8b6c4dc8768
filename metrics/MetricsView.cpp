#include "metrics/MetricsView.h"

#include <unordered_map>
#include <utility>

namespace {

HostNumbers numbersOf(const ServerItem& item) {
    HostNumbers n;
    n.good = item.goodCount;
    n.bad = item.badCount;
    n.consecutiveFailures = item.consecutiveFailures;
    n.status = item.status;
    n.down = item.isDown();
    return n;
}

std::string key(const HostLabels& l) {
    return l.name + '\0' + l.address + '\0' + l.type;
}

}  // namespace

MetricsView::MetricsView(const ServerDoc& doc, Clock& clock)
    : doc_(doc), clock_(clock), labels_(std::make_shared<LabelTable>()) {
    rebuild();
}

void MetricsView::rebuild() {
    const std::vector<ServerItem> items = doc_.items();
    auto table = std::make_shared<LabelTable>();
    std::vector<HostLabels>& labels = table->hosts;
    labels.reserve(items.size());
    std::vector<HostNumbers> hosts;
    hosts.reserve(items.size());
    for (const ServerItem& item : items) {
        labels.push_back(labelsOf(item));
        hosts.push_back(numbersOf(item));
    }
    table->sets = labelSets(labels);
    std::lock_guard lock(mutex_);
    applyPendingLocked();
    // The timings stay with their host, wherever the list moved it; usually it has not moved.
    const std::vector<HostLabels>& old = labels_->hosts;
    std::unordered_map<std::string, std::size_t> moved;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        std::size_t from = i;
        if (i >= old.size() || !(old[i] == labels[i])) {
            if (moved.empty()) {
                for (std::size_t k = old.size(); k-- > 0;) {
                    moved[key(old[k])] = k;
                }
            }
            const auto it = moved.find(key(labels[i]));
            if (it == moved.end()) {
                continue;
            }
            from = it->second;
        }
        const HostNumbers& was = hosts_[from];
        HostNumbers& now = hosts[i];
        now.lastDurationMs = was.lastDurationMs;
        now.lastCheckTime = was.lastCheckTime;
        now.checkStartedMs = was.checkStartedMs;
        now.probeMs = was.probeMs;
        now.certificateExpiry = was.certificateExpiry;
        now.goodSeen = was.goodSeen;
        now.badSeen = was.badSeen;
        if (was.checkStartedMs >= 0) {
            now.status = StatusChecking;
        }
    }
    labels_ = std::move(table);
    hosts_ = std::move(hosts);
}

void MetricsView::refreshAllRows() {
    rebuild();
}

void MetricsView::refreshHostRows() {
    const long long now = clock_.elapsed().count();
    {
        std::lock_guard lock(mutex_);
        if (cycleStartMs_ >= 0) {
            lastCycleMs_ = now - cycleStartMs_;
            cycleStartMs_ = -1;
        }
    }
    rebuild();
}

void MetricsView::cycleStarted() {
    const long long now = clock_.elapsed().count();
    std::lock_guard lock(mutex_);
    cycleStartMs_ = now;
}

void MetricsView::markRowChecking(std::size_t row) {
    report(Change{Change::Checking, row, {}, clock_.elapsed().count(), 0});
}

void MetricsView::checkTook(std::size_t row, std::chrono::milliseconds took) {
    report(Change{Change::Took, row, {}, took.count(), 0});
}

void MetricsView::certificateSeen(std::size_t row, std::time_t expiry) {
    report(Change{Change::Certificate, row, {}, static_cast<long long>(expiry), 0});
}

void MetricsView::showRowCounts(std::size_t row, const ServerItem& item) {
    report(Change{Change::Counted, row, numbersOf(item), clock_.elapsed().count(), clock_.now()});
}

void MetricsView::showRowStatus(std::size_t row, const ServerItem& item) {
    report(Change{Change::Shown, row, numbersOf(item), 0, 0});
}

void MetricsView::report(const Change& change) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // A scrape is copying the numbers: rather than wait, the change goes in first with
        // the next call that holds the lock (a later change, or the next scrape).
        std::lock_guard waiting(pendingMutex_);
        pending_.push_back(change);
        return;
    }
    applyPendingLocked();
    applyLocked(change);
}

void MetricsView::applyPendingLocked() {
    std::vector<Change> waiting;
    {
        std::lock_guard lock(pendingMutex_);
        waiting.swap(pending_);
    }
    for (const Change& c : waiting) {
        applyLocked(c);
    }
}

void MetricsView::applyLocked(const Change& change) {
    if (change.row >= hosts_.size()) {
        return;
    }
    HostNumbers& h = hosts_[change.row];
    if (change.kind == Change::Checking) {
        h.status = StatusChecking;
        h.checkStartedMs = change.at;
        return;
    }
    if (change.kind == Change::Took) {
        h.probeMs = change.at;
        return;
    }
    if (change.kind == Change::Certificate) {
        h.certificateExpiry = change.at;
        return;
    }
    const HostNumbers was = h;
    h = change.numbers;
    h.lastDurationMs = was.lastDurationMs;
    h.lastCheckTime = was.lastCheckTime;
    h.goodSeen = was.goodSeen;
    h.badSeen = was.badSeen;
    h.certificateExpiry = was.certificateExpiry;
    if (change.kind == Change::Counted) {
        // A good check sets success; a bad one adds a failure, where a check that could not
        // be made at all (a service that cannot be asked) only sets failure.
        if (h.status == StatusSuccess) {
            ++h.goodSeen;
        } else if (h.bad != was.bad || h.consecutiveFailures != was.consecutiveFailures) {
            ++h.badSeen;
        }
    }
    // The check is its probe: neither the wait for its turn nor the actions that follow are
    // part of it. A monitor that does not say how long the probe took gets the time until
    // the result was counted.
    if (change.kind == Change::Counted && (was.probeMs >= 0 || was.checkStartedMs >= 0)) {
        h.lastDurationMs = was.probeMs >= 0 ? was.probeMs : change.at - was.checkStartedMs;
        h.lastCheckTime = change.wall;
    }
}

MetricsSnapshot MetricsView::snapshot() {
    std::lock_guard lock(mutex_);
    applyPendingLocked();
    return MetricsSnapshot{labels_, hosts_, lastCycleMs_, {}};
}
