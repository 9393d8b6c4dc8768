#include "probes/TcpWatchdog.h"

TcpWatchdog::TcpWatchdog(LiveConfig& cfg, std::function<void()> onExpire)
    : cfg_(cfg), onExpire_(std::move(onExpire)) {}

TcpWatchdog::~TcpWatchdog() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool TcpWatchdog::expired() const {
    std::lock_guard lock(mutex_);
    return expired_;
}

bool TcpWatchdog::expireIfDue(std::chrono::milliseconds elapsed) {
    if (elapsed.count() < cfg_.connectTimeout()) {
        return false;
    }
    expired_ = true;
    // Under the lock: the step cannot end, and so a later step cannot begin, before the
    // cancel has been delivered.
    onExpire_();
    return true;
}

void TcpWatchdog::begin() {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
    ++step_;
    stepRunning_ = true;
    expired_ = false;
    stepStart_ = std::chrono::steady_clock::now();
    // The first test comes before any wait: a limit of 0 or less ends the step at once.
    if (!expireIfDue(std::chrono::milliseconds(0))) {
        wake_.notify_all();
    }
}

void TcpWatchdog::end() {
    {
        std::lock_guard lock(mutex_);
        stepRunning_ = false;
    }
    wake_.notify_all();
}

void TcpWatchdog::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || (stepRunning_ && !expired_); });
        if (quit_) {
            return;
        }
        const std::uint64_t step = step_;
        const auto start = stepStart_;
        for (int tick = 1;; ++tick) {
            const auto elapsed = kStep * tick;
            const bool over = wake_.wait_until(lock, start + elapsed,
                                               [&] { return quit_ || !stepRunning_ || step_ != step; });
            if (over) {
                break;
            }
            if (expireIfDue(elapsed)) {
                break;
            }
        }
        // Wait for this step to end before looking for the next one.
        wake_.wait(lock, [&] { return quit_ || !stepRunning_ || step_ != step; });
    }
}
