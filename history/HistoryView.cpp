#include "history/HistoryView.h"

#include <algorithm>
#include <ctime>

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
    std::vector<SeriesKey> keys = seriesKeys(document_, items);
    std::vector<Row> rows;
    rows.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ServerItem& it = items[i];
        rows.push_back(Row{it.type, it.tcpPort, it.name, it.address, it.service, writer_.intern(keys[i])});
    }
    std::erase_if(failing_, [&](const auto& f) {
        return std::none_of(rows.begin(), rows.end(), [&](const Row& r) { return r.key == f.first; });
    });
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
    // The row may have changed since the table was made: then the host names its series
    // itself.
    e.key = row < rows_.size() && rows_[row].sameHost(host) ? rows_[row].key
                                                            : writer_.intern(seriesKeyOf(document_, host));
    e.at = std::int64_t{check.at} * 1000;
    e.good = check.good;
    e.ms = check.took.count();
    if (!check.good) {
        e.reason = check.reason.empty() ? defaultFailureText(e.key->type) : check.reason;
    }
    if (check.good) {
        failing_.erase(e.key);
    } else {
        failing_.try_emplace(e.key, Failing{e.at, e.reason});
    }
    if (check.change == AppliedCheck::Change::WentDown) {
        e.change = CheckEvent::Change::WentDown;
        if (const auto f = failing_.find(e.key); f != failing_.end()) {
            e.outageStart = f->second.since;
            e.outageReason = f->second.reason;
        }
    } else if (check.change == AppliedCheck::Change::WentUp) {
        e.change = CheckEvent::Change::WentUp;
    }
    writer_.record(std::move(e));
}
