// Whether a host flaps: how often its up/down state changed over its last checks, the recent
// changes counting more than the old ones.
#pragma once

#include <cstdint>

class FlapHistory {
  public:
    static constexpr int kChecks = 21;

    // Notes the host's state after one more check.
    void add(bool down);
    // The weighted share of state changes between the checks noted, in percent (0 to 100).
    // Fewer than kChecks checks weigh as if the missing ones had not changed.
    double changePercent() const;

    // Updates the flapping state with the share now: it starts above `start` percent and
    // ends below `stop`. Returns whether the state changed. start 0 never flaps.
    bool judge(double start, double stop);
    bool flapping() const { return flapping_; }

  private:
    // Bit i: the state i checks ago (1: down); count_ of them are valid.
    std::uint32_t states_ = 0;
    int count_ = 0;
    bool flapping_ = false;
};
