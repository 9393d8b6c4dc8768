// How many notifications each channel delivered and how many it gave up on, since the
// process started: the counter vardomon_notifications_total{channel,outcome}.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class NotificationCounts {
  public:
    // Safe from any thread.
    void count(const std::string& channel, bool sent);
    // The family's help, type and samples, in the exposition's text form.
    void appendTo(std::string& out) const;

  private:
    struct Outcomes {
        std::uint64_t sent = 0;
        std::uint64_t failed = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Outcomes> channels_;
};
