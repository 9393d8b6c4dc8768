#include "metrics/MetricsView.h"

#include <unordered_map>
#include <utility>

#include "core/Utf8Text.h"

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

HostLabels labelsOf(const ServerItem& item) {
    HostLabels l;
    l.name = asUtf8(cutAtNul(item.name));
    l.address = asUtf8(cutAtNul(item.address));
    // The monitor checks every type it does not know as a service.
    l.type = item.type == HostTcpIp ? "tcp" : item.type == HostPing ? "ping" : "service";
    return l;
}

MetricsView::MetricsView(const ServerDoc& doc, Clock& clock)
    : doc_(doc), clock_(clock), labels_(std::make_shared<std::vector<HostLabels>>()) {
    rebuild();
}

void MetricsView::rebuild() {
    const std::vector<ServerItem> items = doc_.items();
    auto labels = std::make_shared<std::vector<HostLabels>>();
    labels->reserve(items.size());
    std::vector<HostNumbers> hosts;
    hosts.reserve(items.size());
    for (const ServerItem& item : items) {
        labels->push_back(labelsOf(item));
        hosts.push_back(numbersOf(item));
    }
    std::lock_guard lock(mutex_);
    // The timings stay with their host, wherever the list moved it; usually it has not moved.
    const std::vector<HostLabels>& old = *labels_;
    std::unordered_map<std::string, std::size_t> moved;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        std::size_t from = i;
        if (i >= old.size() || !(old[i] == (*labels)[i])) {
            if (moved.empty()) {
                for (std::size_t k = old.size(); k-- > 0;) {
                    moved[key(old[k])] = k;
                }
            }
            const auto it = moved.find(key((*labels)[i]));
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
        if (was.checkStartedMs >= 0) {
            now.status = StatusChecking;
        }
    }
    labels_ = std::move(labels);
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
    const long long now = clock_.elapsed().count();
    std::lock_guard lock(mutex_);
    if (row < hosts_.size()) {
        hosts_[row].status = StatusChecking;
        hosts_[row].checkStartedMs = now;
    }
}

void MetricsView::apply(std::size_t row, const ServerItem& item, bool checkEnded) {
    const long long now = clock_.elapsed().count();
    const std::time_t wall = checkEnded ? clock_.now() : 0;
    std::lock_guard lock(mutex_);
    if (row >= hosts_.size()) {
        return;
    }
    HostNumbers& h = hosts_[row];
    const HostNumbers was = h;
    h = numbersOf(item);
    h.lastDurationMs = was.lastDurationMs;
    h.lastCheckTime = was.lastCheckTime;
    // The check ends when its result is counted: the down actions that may follow are no
    // part of it.
    if (checkEnded && was.checkStartedMs >= 0) {
        h.lastDurationMs = now - was.checkStartedMs;
        h.lastCheckTime = wall;
    }
}

void MetricsView::showRowCounts(std::size_t row, const ServerItem& item) {
    apply(row, item, true);
}

void MetricsView::showRowStatus(std::size_t row, const ServerItem& item) {
    apply(row, item, false);
}

MetricsSnapshot MetricsView::snapshot() const {
    std::lock_guard lock(mutex_);
    return MetricsSnapshot{labels_, hosts_, lastCycleMs_};
}
