// What the metrics report, kept up to date from the monitor's view calls: every host's
// labels, its counts and states, how long its last check took and when it ended, and how
// long the last complete cycle took. The monitor's calls change one host under a short lock;
// a scrape copies the numbers under the same lock and renders them outside it, so reading
// the metrics never holds up the monitor or the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/MonitorView.h"
#include "core/Vardo.h"

// The labels of a host's series, in UTF-8.
struct HostLabels {
    std::string name;
    std::string address;
    const char* type = "tcp";  // "tcp", "ping" or "service"

    bool operator==(const HostLabels&) const = default;
};

struct HostNumbers {
    std::int32_t good = 0;
    std::int32_t bad = 0;
    std::int32_t consecutiveFailures = 0;
    std::int32_t status = StatusFailure;
    bool down = false;
    // -1 until the host has been checked in this run.
    long long lastDurationMs = -1;
    long long lastCheckTime = -1;
    // The steady reading when the check under way began; -1 when none is.
    long long checkStartedMs = -1;
};

struct MetricsSnapshot {
    // Shared with the view until the list changes: a scrape does not copy the texts.
    std::shared_ptr<const std::vector<HostLabels>> labels;
    std::vector<HostNumbers> hosts;
    // -1 until a cycle has completed.
    long long lastCycleMs = -1;
};

HostLabels labelsOf(const ServerItem& item);

class MetricsView final : public MonitorView {
  public:
    MetricsView(const ServerDoc& doc, Clock& clock);

    // The list changed (or a cycle ended): the hosts are read again from the document.
    void refreshAllRows() override;
    void refreshHostRows() override;
    void cycleStarted() override;
    void markRowChecking(std::size_t row) override;
    void showRowCounts(std::size_t row, const ServerItem& item) override;
    void showRowStatus(std::size_t row, const ServerItem& item) override;
    void setStatusText(const std::string&) override {}

    MetricsSnapshot snapshot() const;

  private:
    void rebuild();
    void apply(std::size_t row, const ServerItem& item, bool checkEnded);

    const ServerDoc& doc_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<HostLabels>> labels_;
    std::vector<HostNumbers> hosts_;
    long long cycleStartMs_ = -1;
    long long lastCycleMs_ = -1;
};
