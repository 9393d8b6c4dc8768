// Recording fakes for the interfaces the check cycle calls. Every call is written to one
// shared journal, so a test can check the order of probes, log lines, actions and view
// updates across all of them.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Monitor.h"

class Journal {
  public:
    void add(std::string entry);
    std::vector<std::string> entries() const;
    // Entries that start with prefix, in order.
    std::vector<std::string> matching(const std::string& prefix) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Scripted probe results. A script entry is consumed per call; an empty script gives the
// fallback result.
class FakeProbes : public HostProbes {
  public:
    explicit FakeProbes(Journal& journal) : journal_(journal) {}

    struct ServiceResult {
        bool opened = true;
        bool queried = true;
        bool running = true;
    };

    void scriptTcp(std::vector<bool> results);
    void scriptPing(std::vector<int> results);
    void scriptService(std::vector<ServiceResult> results);
    bool tcpFallback = true;
    int pingFallback = 1;
    ServiceResult serviceFallback;
    // Runs inside every probe call, on the monitor thread (to act "during a check").
    std::function<void()> duringProbe;
    // When set, decides every TCP check by the host's address instead of the
    // scripts, on the thread that checks: a test can hold checks and end them in any order.
    std::function<bool(const std::string& address)> byAddress;
    // Every TCP check holds back a report ("held report <address>") for the monitor thread.
    bool holdReports = false;
    bool quiet = false;  // record nothing (benchmarks)

    bool checkTcpConnect(const std::string& address, std::int32_t port) override;
    bool checkTcpReceive(const ServerItem& item) override;
    bool checkTcpSendReceive(const ServerItem& item) override;
    bool checkHttpRequest(const ServerItem& item, const HostExtras& extras) override;
    bool checkTcpTls(const ServerItem& item, const HostExtras& extras) override;
    // Said by takeFailureReason after every check.
    std::string failureReason;
    std::string takeFailureReason() override { return failureReason; }
    // What every web check's server sends as its earliest certificate expiry.
    std::optional<std::time_t> webCertificateExpiry;
    std::optional<std::time_t> takeCertificateExpiry() override {
        return std::exchange(seenExpiry_, std::nullopt);
    }
    void setPingAddress(const std::string& address) override;
    int ping() override;
    ServiceHandle openServiceManager(const std::string& machine) override;
    bool queryServiceRunning(ServiceManagerHandle& handle, const std::string& service,
                             bool& running) override;
    void closeServiceManager(ServiceHandle handle) override;
    void cancel() override { ++cancels; }
    std::vector<std::function<void()>> takeHeldReports() override;

    std::atomic<int> cancels{0};

  private:
    bool nextTcp(const std::string& address);
    void note(std::string entry);

    Journal& journal_;
    std::mutex mutex_;
    std::deque<bool> tcp_;
    std::deque<int> ping_;
    std::deque<ServiceResult> service_;
    std::vector<std::function<void()>> held_;
    ServiceResult current_;
    std::optional<std::time_t> seenExpiry_;
};

class RecordingAlerts : public HostAlerts {
  public:
    explicit RecordingAlerts(Journal& journal) : journal_(journal) {}
    void logEvent(std::string text, std::time_t time) override;
    void runUpActions(const ServerItem& item, std::time_t now) override;
    void runDownActions(const ServerItem& item, std::time_t now) override;
    bool quiet = false;

  private:
    Journal& journal_;
};

class RecordingView : public MonitorView {
  public:
    explicit RecordingView(Journal& journal) : journal_(journal) {}
    void refreshAllRows() override;
    void refreshHostRows() override;
    void markRowChecking(std::size_t row) override;
    void showRowCounts(std::size_t row, const ServerItem& item) override;
    void showRowStatus(std::size_t row, const ServerItem& item) override;
    void setStatusText(const std::string& text) override;
    bool quiet = false;

  private:
    Journal& journal_;
};

// A clock whose sleeps take no time. Each sleep is journaled, moves the steady reading on by
// its duration and then calls onSleep, where a test presses Stop or Check Now at the moment
// it wants.
class FakeClock : public Clock {
  public:
    explicit FakeClock(Journal& journal) : journal_(journal) {}
    std::time_t now() override { return time; }
    std::chrono::milliseconds elapsed() override { return std::chrono::milliseconds(steadyMs.load()); }
    void sleepFor(std::chrono::milliseconds duration) override;

    std::atomic<std::time_t> time{1700000000};
    // The steady reading; a test moves it on to make work take time.
    std::atomic<long long> steadyMs{0};
    std::function<void()> onSleep;
    std::atomic<int> sleeps{0};
    bool quiet = false;

  private:
    Journal& journal_;
};

// A monitor's whole context made of the fakes above, with one journal, for tests that run
// checks and cycles.
struct MonitorRig {
    Journal journal;
    ServerDoc doc;
    LiveConfig cfg;
    MonitorFlags flags;
    FakeProbes probes{journal};
    RecordingAlerts alerts{journal};
    RecordingView view{journal};
    FakeClock clock{journal};
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
};
