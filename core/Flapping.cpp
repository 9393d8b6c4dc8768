#include "core/Flapping.h"

namespace {

constexpr int kChanges = FlapHistory::kChecks - 1;

// The newest change weighs 1.2, the oldest 0.8, those between on a straight line.
double weight(int age) {
    return 1.2 - 0.4 * static_cast<double>(age) / (kChanges - 1);
}

}  // namespace

void FlapHistory::add(bool down) {
    states_ = ((states_ << 1U) | (down ? 1U : 0U)) & ((1U << kChecks) - 1U);
    if (count_ < kChecks) {
        ++count_;
    }
}

double FlapHistory::changePercent() const {
    double changed = 0;
    double all = 0;
    for (int age = 0; age < kChanges; ++age) {
        all += weight(age);
        if (age + 1 < count_ && (((states_ >> age) ^ (states_ >> (age + 1))) & 1U) != 0) {
            changed += weight(age);
        }
    }
    return 100.0 * changed / all;
}

bool FlapHistory::judge(double start, double stop) {
    const double share = changePercent();
    const bool now = start > 0 && (flapping_ ? share >= stop : share > start);
    if (now == flapping_) {
        return false;
    }
    flapping_ = now;
    return true;
}
