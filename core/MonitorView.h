// What the check cycle shows: the rows of both grids and the status bar text. The window
// implements it; each call names a result row by its list index.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>

#include "core/Vardo.h"

// One applied check, as the history keeps it.
struct AppliedCheck {
    enum class Change { None, WentDown, WentUp };
    std::time_t at = 0;
    bool good = false;
    // The probe's own time: the TCP exchange, the ping's round trips, the service query.
    std::chrono::milliseconds took{0};
    // Why it failed, as the probe set told it; empty when good or when it could not tell.
    std::string reason;
    Change change = Change::None;
    // Whether the host's actions are held by a mute or by its flapping after this check.
    bool muted = false;
    bool flapping = false;
};

class MonitorView {
  public:
    virtual ~MonitorView() = default;
    // Empties both grids and refills them from the list (GUI thread only).
    virtual void refreshAllRows() = 0;
    // Empties the host grid and refills it from the list. The monitor calls it once after
    // every complete cycle, never after one cut short.
    virtual void refreshHostRows() = 0;
    // A cycle over the list begins (monitor thread). Only views that time cycles care.
    virtual void cycleStarted() {}
    // Result row i: the checking icon and "Checking...".
    virtual void markRowChecking(std::size_t row) = 0;
    // How long the probe of row i took, told just before its counts (monitor thread); with
    // several checks at once a result may wait for its turn long after its probe ended. Only
    // views that time checks care.
    virtual void checkTook(std::size_t /*row*/, std::chrono::milliseconds /*took*/) {}
    // The earliest expiry of the certificates the server of row i sent in its check, told
    // just before its counts when the check made a TLS handshake. Only the metrics care.
    virtual void certificateSeen(std::size_t /*row*/, std::time_t /*expiry*/) {}
    // Result row i: Good Count and Bad Count from the record.
    virtual void showRowCounts(std::size_t row, const ServerItem& item) = 0;
    // Result row i: icon, colour and Status from the record, then repaint the grid at once.
    virtual void showRowStatus(std::size_t row, const ServerItem& item) = 0;
    virtual void setStatusText(const std::string& text) = 0;
    // A counted check of row i has been applied to host (monitor thread, after
    // showRowStatus). Only views that keep a history care.
    virtual void checkApplied(std::size_t /*row*/, const ServerItem& /*host*/,
                              const AppliedCheck& /*check*/) {}
};
