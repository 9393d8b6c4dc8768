#include "support/MonitorFakes.h"

#include <thread>
#include <utility>

void Journal::add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> Journal::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> Journal::matching(const std::string& prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const std::string& e : entries_) {
        if (e.rfind(prefix, 0) == 0) {
            out.push_back(e);
        }
    }
    return out;
}

void Journal::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void FakeProbes::scriptTcp(std::vector<bool> results) {
    std::lock_guard lock(mutex_);
    tcp_.assign(results.begin(), results.end());
}

void FakeProbes::scriptPing(std::vector<int> results) {
    std::lock_guard lock(mutex_);
    ping_.assign(results.begin(), results.end());
}

void FakeProbes::scriptService(std::vector<ServiceResult> results) {
    std::lock_guard lock(mutex_);
    service_.assign(results.begin(), results.end());
}

void FakeProbes::note(std::string entry) {
    if (!quiet) {
        journal_.add(std::move(entry));
    }
}

bool FakeProbes::nextTcp(const std::string& address) {
    if (duringProbe) {
        duringProbe();
    }
    if (holdReports) {
        held_.push_back([this, address] { journal_.add("held report " + address); });
    }
    if (byAddress) {
        return byAddress(address);
    }
    std::lock_guard lock(mutex_);
    if (tcp_.empty()) {
        return tcpFallback;
    }
    const bool r = tcp_.front();
    tcp_.pop_front();
    return r;
}

bool FakeProbes::checkTcpConnect(const std::string& address, std::int32_t port) {
    note("probe connect " + address + ":" + std::to_string(port));
    return nextTcp(address);
}

bool FakeProbes::checkHttpRequest(const ServerItem& item, const HostExtras& extras) {
    note("probe http " + item.name + " " + std::to_string(extras.size()));
    seenExpiry_ = webCertificateExpiry;
    return nextTcp(item.address);
}

bool FakeProbes::checkTcpTls(const ServerItem& item, const HostExtras& extras) {
    note("probe tls " + item.name + " " + extras.at("tls.mode"));
    return nextTcp(item.address);
}

bool FakeProbes::checkTcpReceive(const ServerItem& item) {
    note("probe receive " + item.name);
    return nextTcp(item.address);
}

bool FakeProbes::checkTcpSendReceive(const ServerItem& item) {
    note("probe send " + item.name);
    return nextTcp(item.address);
}

std::vector<std::function<void()>> FakeProbes::takeHeldReports() {
    return std::exchange(held_, {});
}

void FakeProbes::setPingAddress(const std::string& address) {
    note("ping address " + address);
}

int FakeProbes::ping() {
    note("ping");
    if (duringProbe) {
        duringProbe();
    }
    std::lock_guard lock(mutex_);
    if (ping_.empty()) {
        return pingFallback;
    }
    const int r = ping_.front();
    ping_.pop_front();
    return r;
}

namespace {
class FakeHandle : public ServiceManagerHandle {};
}  // namespace

ServiceHandle FakeProbes::openServiceManager(const std::string& machine) {
    note("service open " + machine);
    if (duringProbe) {
        duringProbe();
    }
    std::lock_guard lock(mutex_);
    if (service_.empty()) {
        current_ = serviceFallback;
    } else {
        current_ = service_.front();
        service_.pop_front();
    }
    if (!current_.opened) {
        return nullptr;
    }
    return std::make_unique<FakeHandle>();
}

bool FakeProbes::queryServiceRunning(ServiceManagerHandle&, const std::string& service, bool& running) {
    note("service query " + service);
    std::lock_guard lock(mutex_);
    running = current_.running;
    return current_.queried;
}

void FakeProbes::closeServiceManager(ServiceHandle) {
    note("service close");
}

void RecordingAlerts::logEvent(std::string text, std::time_t time) {
    if (!quiet) {
        journal_.add("log " + text + " @" + std::to_string(time));
    }
}

void RecordingAlerts::runUpActions(const ServerItem& item, std::time_t now) {
    if (!quiet) {
        journal_.add("up actions " + item.name + " @" + std::to_string(now));
    }
}

void RecordingAlerts::runDownActions(const ServerItem& item, std::time_t now) {
    if (!quiet) {
        journal_.add("down actions " + item.name + " @" + std::to_string(now));
    }
}

void RecordingView::refreshAllRows() {
    if (!quiet) {
        journal_.add("view refreshAll");
    }
}

void RecordingView::refreshHostRows() {
    if (!quiet) {
        journal_.add("view refreshHosts");
    }
}

void RecordingView::markRowChecking(std::size_t row) {
    if (!quiet) {
        journal_.add("view checking " + std::to_string(row));
    }
}

void RecordingView::showRowCounts(std::size_t row, const ServerItem& item) {
    if (!quiet) {
        journal_.add("view counts " + std::to_string(row) + " " + std::to_string(item.goodCount) + "/" +
                     std::to_string(item.badCount));
    }
}

void RecordingView::showRowStatus(std::size_t row, const ServerItem& item) {
    if (!quiet) {
        journal_.add("view status " + std::to_string(row) + " " + std::to_string(item.status) + " c" +
                     std::to_string(item.consecutiveFailures));
    }
}

void RecordingView::setStatusText(const std::string& text) {
    if (!quiet) {
        journal_.add("status " + text);
    }
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
    ++sleeps;
    steadyMs += duration.count();
    if (!quiet) {
        journal_.add("sleep " + std::to_string(duration.count()));
    }
    if (onSleep) {
        onSleep();
    }
    // Let other threads run, so a test's thread is not starved by a spinning monitor.
    std::this_thread::yield();
}
