#include "app/SystemProbes.h"

SystemProbes::SystemProbes(LiveConfig& cfg, std::atomic<std::int32_t>& connectState)
    : tcp_(sock_, cfg, connectState) {
    // SEAM: ping and service control join here when their layers land.
    startupError_ = "Ping and service checks are not built into this program yet.";
}

bool SystemProbes::checkTcpConnect(const std::string& address, std::int32_t port) {
    return tcp_.CheckTcpConnect(address, port);
}

bool SystemProbes::checkTcpReceive(const ServerItem& item) {
    return tcp_.CheckTcpReceive(item);
}

bool SystemProbes::checkTcpSendReceive(const ServerItem& item) {
    return tcp_.CheckTcpSendReceive(item);
}

void SystemProbes::setPingAddress(const std::string& address) {
    pingAddress_ = address;
}

int SystemProbes::ping() {
    return 0;
}

ServiceHandle SystemProbes::openServiceManager(const std::string&) {
    return nullptr;
}

bool SystemProbes::queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) {
    return false;
}

void SystemProbes::closeServiceManager(ServiceHandle) {}

void SystemProbes::cancel() {
    tcp_.cancel();
}
