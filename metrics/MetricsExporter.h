// The metrics of one monitor: the view that keeps them and the server that hands them out.
// Either front end starts one when the settings name a listen address.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/Clock.h"
#include "core/ListenAddress.h"
#include "core/Vardo.h"
#include "metrics/MetricsServer.h"
#include "metrics/MetricsView.h"
#include "metrics/NotificationCounts.h"

class MetricsExporter {
  public:
    // running: whether monitoring is on, as the exposition reports it.
    // quiet, when given, tells where host i stands at the moment of a scrape.
    MetricsExporter(const ServerDoc& doc, Clock& clock, const std::atomic<bool>& running,
                    std::function<QuietState(std::size_t)> quiet = {});

    // False, with error(), when the address cannot be used.
    bool start(const ListenAddress& at) { return server_.start(at); }
    const std::string& error() const { return server_.error(); }
    ListenAddress address() const { return server_.address(); }

    // The view the monitor reports to, beside the window's or the daemon's own.
    MetricsView& view() { return view_; }
    // Where the channels count their outcomes.
    NotificationCounts& notifications() { return notifications_; }

  private:
    MetricsView view_;
    NotificationCounts notifications_;
    const std::atomic<bool>& running_;
    std::function<QuietState(std::size_t)> quiet_;
    // Last: its thread reads the view until it is gone.
    MetricsServer server_;
};
