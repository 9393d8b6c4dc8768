// What the metrics report, kept up to date from the monitor's view calls: every host's
// labels, its counts and states, how long its last check took and when it ended, and how
// long the last complete cycle took. The monitor's calls change one host under a short lock;
// a scrape copies the numbers under the same lock and renders them outside it. A monitor
// call that finds the lock taken by a scrape does not wait for it: its change is queued and
// goes in first with the next call (or scrape) that holds the lock, so reading the metrics
// never holds up the monitor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/AlertGate.h"
#include "core/Clock.h"
#include "core/MonitorView.h"
#include "core/Vardo.h"
#include "core/HostLabels.h"

// The labels of every host, and their label sets as the exposition writes them.
struct LabelTable {
    std::vector<HostLabels> hosts;
    std::vector<std::string> sets;
};

struct HostNumbers {
    // The document's counts: a reload or another program's save may lower them.
    std::int32_t good = 0;
    std::int32_t bad = 0;
    // The checks this process has counted since it started, which only ever grow: the
    // counters a scraper can take increases of. They stay with the host's labels through
    // every change of the list.
    std::uint64_t goodSeen = 0;
    std::uint64_t badSeen = 0;
    std::int32_t consecutiveFailures = 0;
    std::int32_t status = StatusFailure;
    bool down = false;
    // -1 until the host has been checked in this run.
    long long lastDurationMs = -1;
    long long lastCheckTime = -1;
    // The steady reading when the check under way began; -1 when none is.
    long long checkStartedMs = -1;
    // How long the probe of the check under way took, once the monitor has said; -1 before.
    long long probeMs = -1;
    // The earliest expiry of the certificates the host's server last sent; -1 when none came.
    long long certificateExpiry = -1;
};

struct MetricsSnapshot {
    // Shared with the view until the list changes: a scrape neither copies nor escapes texts.
    std::shared_ptr<const LabelTable> labels;
    std::vector<HostNumbers> hosts;
    // -1 until a cycle has completed.
    long long lastCycleMs = -1;
    // Whether each host is muted, flapping or suppressed by a parent, as the scrape found it;
    // a host past its end is none of these.
    std::vector<QuietState> quiet;
};

class MetricsView final : public MonitorView {
  public:
    MetricsView(const ServerDoc& doc, Clock& clock);

    // The list changed (or a cycle ended): the hosts are read again from the document.
    void refreshAllRows() override;
    void refreshHostRows() override;
    void cycleStarted() override;
    void markRowChecking(std::size_t row) override;
    void checkTook(std::size_t row, std::chrono::milliseconds took) override;
    void certificateSeen(std::size_t row, std::time_t expiry) override;
    void showRowCounts(std::size_t row, const ServerItem& item) override;
    void showRowStatus(std::size_t row, const ServerItem& item) override;
    void setStatusText(const std::string&) override {}

    MetricsSnapshot snapshot();

  private:
    // One change the monitor reported for a row.
    struct Change {
        enum Kind { Checking, Took, Certificate, Counted, Shown } kind;
        std::size_t row;
        HostNumbers numbers;  // from the record (Counted, Shown)
        long long
            at;  // the steady reading (Checking, Counted), the probe's time (Took), the expiry (Certificate)
        std::time_t wall;  // when the check ended (Counted)
    };

    void rebuild();
    void report(const Change& change);
    // With mutex_ held.
    void applyLocked(const Change& change);
    void applyPendingLocked();

    const ServerDoc& doc_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::shared_ptr<const LabelTable> labels_;
    std::vector<HostNumbers> hosts_;
    long long cycleStartMs_ = -1;
    long long lastCycleMs_ = -1;
    // Changes that came while a scrape held mutex_; taken only for a moment.
    std::mutex pendingMutex_;
    std::vector<Change> pending_;
};
