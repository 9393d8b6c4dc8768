// The checks the monitor runs on a real machine: the TCP probe on the window's socket, the
// ping component, and service control.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/LiveConfig.h"
#include "core/Monitor.h"
#include "platform/SystemBus.h"
#include "probes/Ping.h"
#include "probes/TcpProbe.h"
#include "probes/TcpSocket.h"
#include "probes/TlsProbe.h"
#include "probes/WebCheck.h"

class SystemProbes : public HostProbes {
  public:
    // Says why a check could not even be tried (no ICMP socket), for the status bar and the
    // log; called on the monitor thread.
    using Report = std::function<void(const std::string& text)>;

    // connectState: the outcome flag the socket's events set, shared with the mail client
    // of the monitor thread.
    SystemProbes(LiveConfig& cfg, std::atomic<std::int32_t>& connectState, Report report = {});
    // A set for a check that runs beside others: an outcome flag of its own, and what it has
    // to report held back until the monitor thread takes it with the check's result.
    SystemProbes(LiveConfig& cfg, Report report);

    bool checkTcpConnect(const std::string& address, std::int32_t port) override;
    bool checkTcpReceive(const ServerItem& item) override;
    bool checkTcpSendReceive(const ServerItem& item) override;
    bool checkHttpRequest(const ServerItem& item, const HostExtras& extras) override;
    bool checkTcpTls(const ServerItem& item, const HostExtras& extras) override;
    void setPingAddress(const std::string& address) override;
    int ping() override;
    ServiceHandle openServiceManager(const std::string& machine) override;
    bool queryServiceRunning(ServiceManagerHandle& handle, const std::string& service,
                             bool& running) override;
    void closeServiceManager(ServiceHandle handle) override;
    void cancel() override;
    std::vector<std::function<void()>> takeHeldReports() override;
    std::string takeFailureReason() override;
    std::optional<std::time_t> takeCertificateExpiry() override;

    // Why a part could not be set up; empty when all is well.
    const std::string& startupError() const { return startupError_; }

  private:
    void notePingError();
    void say(const std::string& text);

    std::atomic<std::int32_t> ownConnectState_{0};
    TTcpSocket sock_;
    TcpProbe tcp_;
    TPinger png_;
    WebCheck web_;
    TlsProbe tls_;
    LiveConfig& cfg_;
    std::string failure_;
    std::optional<std::time_t> certificateExpiry_;
    BusCancel serviceCancel_;
    std::string startupError_;
    Report report_;
    bool holdReports_ = false;
    std::vector<std::function<void()>> held_;
    std::string pingAddress_;
    bool pingReported_ = false;  // the reason went out once in this check
};
