#include "probes/TcpProbe.h"

#include <stdexcept>

namespace {

// Send and expected texts travel with 16-bit lengths; a longer text cannot be checked.
constexpr std::size_t kMaxTextLength = 65535;

bool beginsWith(const std::string& received, const std::string& expected) {
    return received.compare(0, expected.size(), expected) == 0;
}

// A send or read that failed: the socket's words without their error number.
std::string exchangeFailure(const std::exception& e) {
    // The watchdog ends a step that took too long with the socket's cancel.
    if (dynamic_cast<const ESocketAbort*>(&e) != nullptr) {
        return "Timed out";
    }
    const std::string error = e.what();
    const std::size_t colon = error.find(':');
    const bool numbered =
        colon != std::string::npos && colon > 0 && error.find_first_not_of("0123456789") == colon;
    return numbered ? error.substr(colon + 1) : error;
}

}  // namespace

TcpProbe::TcpProbe(TTcpSocket& sock, LiveConfig& cfg, std::atomic<std::int32_t>& connectState)
    : sock_(sock), cfg_(cfg), connectState_(connectState), watchdog_(cfg, [&sock] { sock.Cancel(); }) {
    sock_.OnConnect = [this](TTcpSocket&) { connectState_ = 1; };
    sock_.OnConnectionFailed = [this](TTcpSocket&) { connectState_ = 2; };
}

void TcpProbe::cancel() {
    sock_.Cancel();
}

bool TcpProbe::disconnectQuietly() {
    try {
        sock_.Disconnect();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string connectFailureReason(const std::string& error) {
    if (error == "Null Remote Address") {
        return "Host not found";
    }
    if (error == "Connection Timed out") {
        return "Timed out";
    }
    if (error == "Connection Failed") {
        return "Connection refused";
    }
    return error;
}

bool TcpProbe::connectionPhase(const std::string& address, std::int32_t port) {
    sock_.Host = address;
    sock_.Port = port;
    sock_.TimeOut = cfg_.connectTimeout();
    connectState_ = 0;
    failure_.clear();
    try {
        sock_.Connect();
    } catch (const std::exception& e) {
        failure_ = connectFailureReason(e.what());
        disconnectQuietly();
        connectState_ = 2;
    }
    // The socket's events fire before Connect returns, so the outcome is known now.
    if (connectState_ == 0) {
        connectState_ = sock_.Connected() ? 1 : 2;
    }
    return connectState_ == 1;
}

bool TcpProbe::CheckTcpConnect(const std::string& address, std::int32_t port) {
    connectionPhase(address, port);
    // A close that fails leaves the outcome of the check in doubt: count it as failed.
    const bool closed = disconnectQuietly();
    if (connectState_ == 1 && !closed) {
        failure_ = "The connection could not be closed";
    }
    return closed && connectState_ == 1;
}

bool TcpProbe::SendWithWatchdog(const std::string& text) {
    const std::string data = cutAtNul(text);
    if (data.size() > kMaxTextLength) {
        throw std::length_error("send text too long");
    }
    {
        TcpWatchdog::Step step(watchdog_);
        sock_.SendBuffer(data.data(), static_cast<std::uint16_t>(data.size()));
    }
    // A watchdog that fired just as the send finished still fails the step.
    return !sock_.Canceled();
}

std::string TcpProbe::ReadWithWatchdog(std::size_t count) {
    if (count > kMaxTextLength) {
        throw std::length_error("expected text too long");
    }
    std::string received;
    {
        TcpWatchdog::Step step(watchdog_);
        received = sock_.Read(static_cast<std::uint16_t>(count));
    }
    if (sock_.Canceled()) {
        failure_ = "Timed out";
        return {};
    }
    return received;
}

bool TcpProbe::finishExchange(const std::string& received, const std::string& expected) {
    // A peer that closed may already have made the socket give up its connection; the
    // close here then only concerns a connected socket.
    const bool matched = beginsWith(received, expected);
    if (matched) {
        return disconnectQuietly();
    }
    if (failure_.empty()) {
        failure_ = "Text not found in the response";
    }
    if (sock_.Connected()) {
        disconnectQuietly();
    }
    return false;
}

bool TcpProbe::CheckTcpReceive(const ServerItem& item) {
    if (!connectionPhase(item.address, item.tcpPort)) {
        return false;
    }
    try {
        const std::string expected = cutAtNul(item.recvText);
        return finishExchange(ReadWithWatchdog(expected.size()), expected);
    } catch (const std::exception& e) {
        failure_ = exchangeFailure(e);
        if (sock_.Connected()) {
            disconnectQuietly();
        }
        return false;
    }
}

bool TcpProbe::CheckTcpSendReceive(const ServerItem& item) {
    if (!connectionPhase(item.address, item.tcpPort)) {
        return false;
    }
    try {
        if (!SendWithWatchdog(item.sendText)) {
            failure_ = "Timed out";
            if (sock_.Connected()) {
                disconnectQuietly();
            }
            return false;
        }
        const std::string expected = cutAtNul(item.recvText);
        return finishExchange(ReadWithWatchdog(expected.size()), expected);
    } catch (const std::exception& e) {
        failure_ = exchangeFailure(e);
        if (sock_.Connected()) {
            disconnectQuietly();
        }
        return false;
    }
}
