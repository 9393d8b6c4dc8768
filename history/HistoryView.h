// The monitor's results on their way to the history: a view beside the window's and the
// metrics', which turns each applied check into a result for the writer and never waits for
// it. It keeps which series each row writes to, and for each host whose checks fail, when
// and why the failures began, which is where its outage starts. A check costs the monitor
// thread no allocation once the rows are known.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/MonitorView.h"
#include "core/Vardo.h"
#include "history/HistoryWriter.h"

class HistoryView final : public MonitorView {
  public:
    HistoryView(const ServerDoc& doc, HistoryWriter& writer) : doc_(doc), writer_(writer) {}

    // The list or the document changed (the window's thread; takes the document's name).
    void refreshAllRows() override;
    // After every cycle: the list has not changed since the last refreshAllRows.
    void refreshHostRows() override {}
    void cycleStarted() override;
    void markRowChecking(std::size_t) override {}
    void showRowCounts(std::size_t, const ServerItem&) override {}
    void showRowStatus(std::size_t, const ServerItem&) override {}
    void setStatusText(const std::string&) override {}
    void checkApplied(std::size_t row, const ServerItem& host, const AppliedCheck& check) override;

    // Monitoring stopped at the time given (seconds).
    void monitoringStopped(std::time_t at);
    // Host index was changed in the host dialog: its series follows it.
    void hostReplaced(std::size_t index);

  private:
    // What a row's series was made from, to tell at a glance that a host is still the same.
    struct Row {
        std::int8_t type;
        std::int32_t port;
        std::string name;
        std::string address;
        std::string service;
        const SeriesKey* key;
        // While its checks fail: when the first failed (0: they do not) and why.
        std::int64_t failingSince = 0;
        std::string failingReason;

        bool sameHost(const ServerItem& h) const {
            return type == h.type && port == h.tcpPort && name == h.name && address == h.address &&
                   service == h.service;
        }
    };
    void rebuild();

    const ServerDoc& doc_;
    HistoryWriter& writer_;
    std::mutex mutex_;
    std::string document_;
    std::vector<Row> rows_;
    bool monitoring_ = false;
};
