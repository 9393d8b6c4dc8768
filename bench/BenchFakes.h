// The monitor's surroundings, reduced to nothing, for benchmarks that time the monitor's own
// work: a view and alerts that do nothing, and probes that answer at once.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "core/Monitor.h"
#include "core/MonitorView.h"

class NoView : public MonitorView {
  public:
    void refreshAllRows() override {}
    void refreshHostRows() override {}
    void markRowChecking(std::size_t) override {}
    void showRowCounts(std::size_t, const ServerItem&) override {}
    void showRowStatus(std::size_t, const ServerItem&) override {}
    void setStatusText(const std::string&) override {}
};

class NoAlerts : public HostAlerts {
  public:
    void logEvent(std::string, std::time_t) override {}
    void runUpActions(const ServerItem&, std::time_t) override {}
    void runDownActions(const ServerItem&, std::time_t) override {}
};

class InstantProbes : public HostProbes {
  public:
    bool checkTcpConnect(const std::string&, std::int32_t) override { return flip(); }
    bool checkTcpReceive(const ServerItem&) override { return flip(); }
    bool checkTcpSendReceive(const ServerItem&) override { return flip(); }
    void setPingAddress(const std::string&) override {}
    int ping() override { return 1; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}

  private:
    // Alternating results walk the hosts through failures, downs and ups.
    bool flip() { return (++n_ % 3) != 0; }
    unsigned n_ = 0;
};
