// Bounds one send or read step of the TCP probe: while a step runs, the watchdog re-reads
// the connect time-out every 100 ms and cancels the step once the time spent reaches it, so
// a step takes at most the time-out rounded up to 100 ms (a time-out of 0 or less cancels
// at once). A change of the setting during a step counts from the next 100 ms tick.
//
// One thread serves every step and sleeps between them; the end of a step wakes it at
// once, so a step that finishes early costs no tick, and a step that has ended can no
// longer be cancelled by it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "core/LiveConfig.h"

class TcpWatchdog {
  public:
    static constexpr std::chrono::milliseconds kStep{100};

    // onExpire runs on the watchdog's thread (or on the caller's, for a limit of 0 or
    // less), while the step it ends is still running.
    TcpWatchdog(LiveConfig& cfg, std::function<void()> onExpire);
    ~TcpWatchdog();
    TcpWatchdog(const TcpWatchdog&) = delete;
    TcpWatchdog& operator=(const TcpWatchdog&) = delete;

    // Guards one step for as long as it lives.
    class Step {
      public:
        explicit Step(TcpWatchdog& dog) : dog_(dog) { dog_.begin(); }
        ~Step() { dog_.end(); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

      private:
        TcpWatchdog& dog_;
    };

    // Whether the last step was cancelled by the watchdog.
    bool expired() const;

  private:
    void begin();
    void end();
    void run();
    // With the lock held: the step has lasted `elapsed`; cancel it if that reaches the limit.
    bool expireIfDue(std::chrono::milliseconds elapsed);

    LiveConfig& cfg_;
    std::function<void()> onExpire_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stepRunning_ = false;
    bool expired_ = false;
    bool quit_ = false;
    std::uint64_t step_ = 0;
    std::chrono::steady_clock::time_point stepStart_;
    std::thread thread_;
};
