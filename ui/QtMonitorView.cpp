#include "ui/QtMonitorView.h"

#include <QThread>
#include <algorithm>

#include "core/Presentation.h"
#include "ui/DisplayText.h"

void QtMonitorView::RowPatch::mergeFrom(const RowPatch& later) {
    if (later.icon) {
        icon = later.icon;
    }
    if (later.colour) {
        colour = later.colour;
    }
    if (later.status) {
        status = later.status;
    }
    if (later.good) {
        good = later.good;
    }
    if (later.bad) {
        bad = later.bad;
    }
}

QtMonitorView::QtMonitorView(ResultGridModel& results, HostGridModel& hosts, QObject* parent)
    : QObject(parent), results_(results), hosts_(hosts) {}

std::vector<ServerItem> QtMonitorView::items() const {
    return doc_ != nullptr ? doc_->items() : std::vector<ServerItem>{};
}

bool QtMonitorView::onGuiThread() const {
    return QThread::currentThread() == thread();
}

void QtMonitorView::refreshAllRows() {
    // Updates the monitor sent before this rebuild belong to the old rows.
    flush();
    const std::vector<ServerItem> items = this->items();
    std::vector<ResultRow> resultRows;
    std::vector<HostRow> hostRows;
    resultRows.reserve(items.size());
    hostRows.reserve(items.size());
    for (const ServerItem& item : items) {
        resultRows.push_back(resultRowFor(item));
        hostRows.push_back(hostRowFor(item));
    }
    results_.setRows(std::move(resultRows));
    hosts_.setRows(std::move(hostRows));
}

void QtMonitorView::rebuildHostRows() {
    const std::vector<ServerItem> items = this->items();
    std::vector<HostRow> rows;
    rows.reserve(items.size());
    for (const ServerItem& item : items) {
        rows.push_back(hostRowFor(item));
    }
    hosts_.setRows(std::move(rows));
}

void QtMonitorView::refreshHostRows() {
    if (onGuiThread()) {
        flush();
        rebuildHostRows();
        return;
    }
    std::lock_guard lock(mutex_);
    hostRowsWanted_ = true;
    scheduleLocked();
}

void QtMonitorView::markRowChecking(std::size_t row) {
    ResultRow cells;
    applyChecking(cells);
    RowPatch p;
    p.row = row;
    p.icon = cells.icon;
    p.status = cells.cells[ResultColumn::Status];
    post(p);
}

void QtMonitorView::showRowCounts(std::size_t row, const ServerItem& item) {
    ResultRow cells;
    applyCounts(cells, item);
    RowPatch p;
    p.row = row;
    p.good = cells.cells[ResultColumn::GoodCount];
    p.bad = cells.cells[ResultColumn::BadCount];
    post(p);
}

void QtMonitorView::showRowStatus(std::size_t row, const ServerItem& item) {
    ResultRow cells;
    applyStatus(cells, item);
    RowPatch p;
    p.row = row;
    p.icon = cells.icon;
    p.colour = cells.colour;
    p.status = cells.cells[ResultColumn::Status];
    post(p);
}

void QtMonitorView::setStatusText(const std::string& text) {
    if (onGuiThread()) {
        flush();
        showStatus(displayText(text));
        return;
    }
    std::lock_guard lock(mutex_);
    statusWanted_ = text;
    scheduleLocked();
}

void QtMonitorView::post(const RowPatch& patch) {
    {
        std::lock_guard lock(mutex_);
        if (!patches_.empty() && patches_.back().row == patch.row) {
            patches_.back().mergeFrom(patch);
        } else {
            patches_.push_back(patch);
        }
        if (!onGuiThread()) {
            scheduleLocked();
            return;
        }
    }
    // Nothing to cross: apply at once, in order with anything still pending.
    flush();
}

void QtMonitorView::scheduleLocked() {
    if (flushQueued_) {
        return;
    }
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, &QtMonitorView::flush, Qt::QueuedConnection);
}

void QtMonitorView::flush() {
    std::vector<RowPatch> patches;
    bool hostRows = false;
    std::optional<std::string> status;
    {
        std::lock_guard lock(mutex_);
        patches.swap(patches_);
        hostRows = hostRowsWanted_;
        hostRowsWanted_ = false;
        status.swap(statusWanted_);
        flushQueued_ = false;
    }
    if (patches.empty() && !hostRows && !status) {
        return;
    }
    ++batches_;
    int first = -1;
    int last = -1;
    for (const RowPatch& p : patches) {
        ResultRow* row = results_.rowAt(p.row);
        if (row == nullptr) {
            // The list shrank since the monitor took its snapshot.
            continue;
        }
        if (p.icon) {
            row->icon = *p.icon;
        }
        if (p.colour) {
            row->colour = *p.colour;
        }
        if (p.status) {
            row->cells[ResultColumn::Status] = *p.status;
        }
        if (p.good) {
            row->cells[ResultColumn::GoodCount] = *p.good;
        }
        if (p.bad) {
            row->cells[ResultColumn::BadCount] = *p.bad;
        }
        const int r = static_cast<int>(p.row);
        first = first < 0 ? r : std::min(first, r);
        last = std::max(last, r);
    }
    if (first >= 0) {
        results_.rowsChanged(first, last);
    }
    if (hostRows) {
        rebuildHostRows();
    }
    if (status) {
        showStatus(displayText(*status));
    }
}

void QtMonitorView::showStatus(const QString& text) {
    status_ = text;
    emit statusTextChanged(text);
}
