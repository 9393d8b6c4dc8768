#include "history/HistoryView.h"

#include <ctime>
#include <unordered_map>

#include "history/SeriesNames.h"

void HistoryView::rebuild() {
    const std::vector<ServerItem> items = doc_.items();
    const std::string document = documentKey(doc_.fileName);
    std::lock_guard lock(mutex_);
    if (document != document_ && monitoring_) {
        // Another document: the monitored time of the last one ends here.
        const std::int64_t now = std::int64_t{std::time(nullptr)} * 1000;
        writer_.monitoring(document_, false, now);
        writer_.monitoring(document, true, now);
    }
    document_ = document;
    // A host that stays keeps what is known of its failures.
    std::unordered_map<const SeriesKey*, const Row*> failing;
    for (const Row& r : rows_) {
        if (r.failingSince != 0) {
            failing.emplace(r.key, &r);
        }
    }
    std::vector<SeriesKey> keys = seriesKeys(document_, items);
    std::vector<Row> rows;
    rows.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ServerItem& it = items[i];
        Row r{it.type, it.tcpPort, it.name, it.address, it.service, writer_.intern(keys[i]), 0, {}};
        if (const auto f = failing.find(r.key); f != failing.end()) {
            r.failingSince = f->second->failingSince;
            r.failingReason = f->second->failingReason;
        }
        rows.push_back(std::move(r));
    }
    rows_ = std::move(rows);
}

void HistoryView::refreshAllRows() {
    rebuild();
}

void HistoryView::cycleStarted() {
    std::lock_guard lock(mutex_);
    if (!monitoring_) {
        monitoring_ = true;
        writer_.monitoring(document_, true, std::int64_t{std::time(nullptr)} * 1000);
    }
}

void HistoryView::monitoringStopped(std::time_t at) {
    std::lock_guard lock(mutex_);
    if (monitoring_) {
        monitoring_ = false;
        writer_.monitoring(document_, false, std::int64_t{at} * 1000);
    }
}

void HistoryView::hostReplaced(std::size_t index) {
    const SeriesKey* before = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (index < rows_.size()) {
            before = rows_[index].key;
        }
    }
    rebuild();
    std::lock_guard lock(mutex_);
    if (before != nullptr && index < rows_.size() && before != rows_[index].key) {
        writer_.rename(*before, *rows_[index].key);
    }
}

void HistoryView::checkApplied(std::size_t row, const ServerItem& host, const AppliedCheck& check) {
    std::lock_guard lock(mutex_);
    CheckEvent e;
    e.at = std::int64_t{check.at} * 1000;
    e.good = check.good;
    e.ms = check.took.count();
    if (!check.good) {
        e.reason = check.reason;
    }
    // The row may have changed since the table was made: then the host names its series
    // itself, and its outage starts with the check that brought it down.
    Row* r = row < rows_.size() && rows_[row].sameHost(host) ? &rows_[row] : nullptr;
    e.key = r != nullptr ? r->key : writer_.intern(seriesKeyOf(document_, host));
    if (r != nullptr && check.good) {
        r->failingSince = 0;
        r->failingReason.clear();
    } else if (r != nullptr && r->failingSince == 0) {
        r->failingSince = e.at;
        r->failingReason = e.reason;
    }
    if (check.change == AppliedCheck::Change::WentDown) {
        e.change = CheckEvent::Change::WentDown;
        if (r != nullptr) {
            e.outageStart = r->failingSince;
            e.outageReason = r->failingReason.empty() ? defaultFailureText(e.key->type) : r->failingReason;
        }
    } else if (check.change == AppliedCheck::Change::WentUp) {
        e.change = CheckEvent::Change::WentUp;
    }
    writer_.record(std::move(e));
}
