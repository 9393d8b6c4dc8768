#include "history/HistoryView.h"

#include <ctime>

#include "history/SeriesNames.h"

namespace {

std::string keyText(const SeriesKey& k) {
    return k.name + '\x1f' + k.type + '\x1f' + k.address + '\x1f' + std::to_string(k.twin);
}

}  // namespace

void HistoryView::rebuild(bool readName) {
    const std::vector<ServerItem> items = doc_.items();
    std::lock_guard lock(mutex_);
    if (readName) {
        const std::string document = documentKey(doc_.fileName);
        if (document != document_ && monitoring_) {
            // Another document: the monitored time of the last one ends here.
            writer_.monitoring(document_, false, std::int64_t{std::time(nullptr)} * 1000);
            writer_.monitoring(document, true, std::int64_t{std::time(nullptr)} * 1000);
        }
        document_ = document;
    }
    keys_ = seriesKeys(document_, items);
}

void HistoryView::refreshAllRows() {
    rebuild(true);
}

void HistoryView::refreshHostRows() {
    rebuild(false);
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
    std::vector<SeriesKey> before;
    {
        std::lock_guard lock(mutex_);
        before = keys_;
    }
    rebuild(false);
    std::lock_guard lock(mutex_);
    if (index < before.size() && index < keys_.size() && !(before[index] == keys_[index])) {
        writer_.rename(before[index], keys_[index]);
        failing_.erase(keyText(before[index]));
    }
}

void HistoryView::checkApplied(std::size_t row, const ServerItem& host, const AppliedCheck& check) {
    std::lock_guard lock(mutex_);
    // The row may have moved since the table was made: only its twin number comes from it.
    SeriesKey key = seriesKeyOf(document_, host);
    if (row < keys_.size() && keys_[row].name == key.name && keys_[row].type == key.type &&
        keys_[row].address == key.address) {
        key.twin = keys_[row].twin;
    }
    CheckEvent e;
    e.at = std::int64_t{check.at} * 1000;
    e.good = check.good;
    e.ms = check.took.count();
    if (!check.good) {
        e.reason = check.reason.empty() ? defaultFailureText(key.type) : check.reason;
    }
    const std::string text = keyText(key);
    if (check.good) {
        failing_.erase(text);
    } else {
        failing_.try_emplace(text, Failing{e.at, e.reason});
    }
    if (check.change == AppliedCheck::Change::WentDown) {
        e.change = CheckEvent::Change::WentDown;
        const Failing& f = failing_.at(text);
        e.outageStart = f.since;
        e.outageReason = f.reason;
    } else if (check.change == AppliedCheck::Change::WentUp) {
        e.change = CheckEvent::Change::WentUp;
    }
    e.key = std::move(key);
    writer_.record(std::move(e));
}
