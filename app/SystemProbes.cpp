#include "app/SystemProbes.h"

#include <chrono>
#include <ctime>
#include <utility>

#include "probes/ServiceControl.h"

SystemProbes::SystemProbes(LiveConfig& cfg, std::atomic<std::int32_t>& connectState, Report report)
    : tcp_(sock_, cfg, connectState), cfg_(cfg), report_(std::move(report)) {
    notePingError();
}

SystemProbes::SystemProbes(LiveConfig& cfg, Report report)
    : tcp_(sock_, cfg, ownConnectState_), cfg_(cfg), report_(std::move(report)), holdReports_(true) {
    notePingError();
}

void SystemProbes::notePingError() {
    // A program without the right to send ICMP still runs; it says why once, at first show.
    if (!png_.InitError().empty()) {
        startupError_ = png_.InitErrorDetail().empty() ? png_.InitError() : png_.InitErrorDetail();
    }
}

bool SystemProbes::checkTcpConnect(const std::string& address, std::int32_t port) {
    const bool ok = tcp_.CheckTcpConnect(address, port);
    failure_ = tcp_.takeFailure();
    return ok;
}

bool SystemProbes::checkTcpReceive(const ServerItem& item) {
    const bool ok = tcp_.CheckTcpReceive(item);
    failure_ = tcp_.takeFailure();
    return ok;
}

bool SystemProbes::checkTcpSendReceive(const ServerItem& item) {
    const bool ok = tcp_.CheckTcpSendReceive(item);
    failure_ = tcp_.takeFailure();
    return ok;
}

bool SystemProbes::checkHttpRequest(const ServerItem& item, const HostExtras& extras) {
    const WebCheckResult result =
        web_.run(item, extras, std::chrono::milliseconds(cfg_.connectTimeout()), std::time(nullptr));
    failure_ = result.reason;
    certificateExpiry_ = result.certificateExpiry;
    return result.ok;
}

bool SystemProbes::checkTcpTls(const ServerItem& item, const HostExtras& extras) {
    const TlsCheckResult result =
        tls_.check(item, tlsSettingsOf(extras), cfg_.connectTimeout(), std::time(nullptr));
    failure_ = result.reason;
    certificateExpiry_ = result.certificateExpiry;
    return result.ok;
}

std::string SystemProbes::takeFailureReason() {
    return std::exchange(failure_, {});
}

std::optional<std::time_t> SystemProbes::takeCertificateExpiry() {
    return std::exchange(certificateExpiry_, std::nullopt);
}

void SystemProbes::setPingAddress(const std::string& address) {
    png_.SetAddress(address);
    pingAddress_ = address;
    pingReported_ = false;
}

int SystemProbes::ping() {
    const int replies = png_.Ping();
    // Without an ICMP socket every ping fails; the host's check says why, once per check.
    if (replies == 0 && !png_.InitError().empty() && !pingReported_ && report_) {
        pingReported_ = true;
        say("Unable to ping " + pingAddress_ + ": " + png_.GetErrorString());
    }
    return replies;
}

void SystemProbes::say(const std::string& text) {
    if (holdReports_) {
        held_.push_back([report = report_, text] { report(text); });
    } else {
        report_(text);
    }
}

std::vector<std::function<void()>> SystemProbes::takeHeldReports() {
    return std::exchange(held_, {});
}

ServiceHandle SystemProbes::openServiceManager(const std::string& machine) {
    return OpenServiceManager(machine, &serviceCancel_);
}

bool SystemProbes::queryServiceRunning(ServiceManagerHandle& handle, const std::string& service,
                                       bool& running) {
    return QueryServiceRunning(handle, service, running);
}

void SystemProbes::closeServiceManager(ServiceHandle handle) {
    CloseServiceManager(std::move(handle));
}

void SystemProbes::cancel() {
    tcp_.cancel();
    png_.cancel();
    web_.cancel();
    tls_.cancel();
    serviceCancel_.cancel();
}
