// The daemon's view of the monitor: it shows no rows, it only tells the main loop when a
// cycle has ended (a readable descriptor) and whether one is under way, so the document is
// saved and read again between cycles.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/Monitor.h"
#include "core/MonitorView.h"

class CycleWatch final : public MonitorView {
  public:
    CycleWatch();
    ~CycleWatch() override;
    CycleWatch(const CycleWatch&) = delete;
    CycleWatch& operator=(const CycleWatch&) = delete;

    // Monitoring ends with the first cycle: the thread checks no host a second time.
    void stopAfterFirstCycle(MonitorFlags& flags) { stopFlags_ = &flags; }

    int fd() const { return fd_; }
    // Complete cycles since the last call.
    std::uint64_t takeEnded();
    bool betweenCycles() const { return !inCycle_; }

    void refreshHostRows() override;
    void cycleStarted() override { inCycle_ = true; }
    void refreshAllRows() override {}
    void markRowChecking(std::size_t) override {}
    void showRowCounts(std::size_t, const ServerItem&) override {}
    void showRowStatus(std::size_t, const ServerItem&) override {}
    void setStatusText(const std::string&) override {}

  private:
    int fd_ = -1;
    std::atomic<bool> inCycle_{false};
    MonitorFlags* stopFlags_ = nullptr;
};
