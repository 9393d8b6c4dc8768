// The TCP probe: decides whether a host of type TCP/IP is up, with one operation per
// sub-type. Every failure (lookup, refusal, time-out, wrong or missing reply, socket
// error) is the result false; nothing is thrown and nothing shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "core/LiveConfig.h"
#include "core/Vardo.h"
#include "probes/TcpSocket.h"
#include "probes/TcpWatchdog.h"

// The few words of a failed connect ("Connection refused"), from the socket's error text.
std::string connectFailureReason(const std::string& error);

class TcpProbe {
  public:
    // Takes over the socket's OnConnect and OnConnectionFailed events, which set
    // connectState to 1 and 2. The connect time-out is read from cfg at the start of each
    // check and, while a send or read waits, every 100 ms.
    TcpProbe(TTcpSocket& sock, LiveConfig& cfg, std::atomic<std::int32_t>& connectState);
    TcpProbe(const TcpProbe&) = delete;
    TcpProbe& operator=(const TcpProbe&) = delete;

    // Connect only: true when a connection to the port was established.
    bool CheckTcpConnect(const std::string& address, std::int32_t port);
    // True when the reply begins with item.recvText (byte for byte).
    bool CheckTcpReceive(const ServerItem& item);
    // Sends item.sendText as it is (no line end added), then as CheckTcpReceive.
    bool CheckTcpSendReceive(const ServerItem& item);

    // Ends a waiting check at once (it fails); safe from any thread. For shutdown.
    void cancel();
    // Why the last check failed ("Connection refused", "Timed out"), then forgotten; empty
    // when it did not fail.
    std::string takeFailure() { return std::exchange(failure_, {}); }

  private:
    // Connects to address:port; false when the connection failed (then already closed).
    bool connectionPhase(const std::string& address, std::int32_t port);
    bool SendWithWatchdog(const std::string& text);
    std::string ReadWithWatchdog(std::size_t count);
    // Closes, and reports whether that went without an error.
    bool disconnectQuietly();
    bool finishExchange(const std::string& received, const std::string& expected);

    TTcpSocket& sock_;
    LiveConfig& cfg_;
    std::atomic<std::int32_t>& connectState_;
    TcpWatchdog watchdog_;
    std::string failure_;
};
