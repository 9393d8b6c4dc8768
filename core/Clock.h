// Calendar time, a steady reading and the monitor's one-second steps, replaceable so tests
// need not wait.
#pragma once

#include <chrono>
#include <ctime>

class Clock {
  public:
    virtual ~Clock() = default;
    // Whole seconds since 1970-01-01 00:00:00 UTC.
    virtual std::time_t now() = 0;
    // A reading that only moves forward, for measuring how long something took.
    virtual std::chrono::milliseconds elapsed() = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
  public:
    std::time_t now() override { return std::time(nullptr); }
    std::chrono::milliseconds elapsed() override;
    void sleepFor(std::chrono::milliseconds duration) override;
};
