#include "alerts/ChannelWorker.h"

#include <utility>
#include <vector>

namespace {

// More than a day of minute-by-minute messages to a service that never answers is a sign
// of a fault, not of news; later ones are dropped.
constexpr std::size_t kMostQueued = 2000;
constexpr int kTries = 3;
// How often the reminders are looked at without a poke.
constexpr std::chrono::seconds kReminderLook{1};

std::string hostKey(const ServerItem& item) {
    return item.name + '\n' + item.address + '\n' + std::to_string(item.type);
}

}  // namespace

ChannelWorker::ChannelWorker(ChannelSettings settings, Clock& clock, EventLogger& log, Outcome outcome,
                             StillDown stillDown, ChannelTiming timing)
    : clock_(clock),
      log_(log),
      outcome_(std::move(outcome)),
      stillDown_(std::move(stillDown)),
      timing_(timing),
      sender_(timing.timeout),
      settings_(std::move(settings)),
      thread_([this] { run(); }) {}

ChannelWorker::~ChannelWorker() {
    finish(std::chrono::steady_clock::now());
}

void ChannelWorker::update(ChannelSettings settings) {
    std::lock_guard lock(mutex_);
    settings_ = std::move(settings);
}

void ChannelWorker::forgetHosts() {
    std::lock_guard lock(mutex_);
    down_.clear();
}

void ChannelWorker::hostDown(const ServerItem& item, std::time_t now) {
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            return;
        }
        down_[hostKey(item)] = DownHost{item, now, now};
    }
    enqueue(downMessage(item, now));
}

void ChannelWorker::hostUp(const ServerItem& item, std::time_t now) {
    {
        std::lock_guard lock(mutex_);
        const bool downSent = down_.erase(hostKey(item)) > 0;
        if (closing_ || (!downSent && item.type == HostService)) {
            return;
        }
    }
    enqueue(upMessage(item, now));
}

void ChannelWorker::poke() {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

void ChannelWorker::enqueue(ChannelMessage message) {
    std::unique_lock lock(mutex_);
    if (closing_) {
        return;
    }
    if (queue_.size() >= kMostQueued) {
        const std::string name = settings_.name;
        lock.unlock();
        log_.logEvent("Notification to " + name + " dropped: too many waiting", clock_.now());
        if (outcome_) {
            outcome_(name, false);
        }
        return;
    }
    const std::string txn =
        "vardomon-" + std::to_string(message.time) + "-" + std::to_string(++sequence_) + "-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    queue_.push_back({std::move(message), txn});
    wake_.notify_all();
}

void ChannelWorker::run() {
    std::unique_lock lock(mutex_);
    while (!aborting_) {
        if (!queue_.empty()) {
            const Pending pending = std::move(queue_.front());
            queue_.pop_front();
            const ChannelSettings settings = settings_;
            busy_ = true;
            lock.unlock();
            deliver(pending, settings);
            lock.lock();
            busy_ = false;
            idle_.notify_all();
            continue;
        }
        if (closing_) {
            break;
        }
        if (!remind(lock)) {
            wake_.wait_for(lock, kReminderLook);
        }
    }
    while (!queue_.empty()) {
        queue_.pop_front();
        lock.unlock();
        dropped();
        lock.lock();
    }
    idle_.notify_all();
}

bool ChannelWorker::remind(std::unique_lock<std::mutex>& lock) {
    const std::time_t now = clock_.now();
    const std::time_t period = static_cast<std::time_t>(settings_.remindEveryMinutes) * 60;
    if (period <= 0) {
        return false;
    }
    std::vector<std::pair<std::string, ServerItem>> due;
    for (const auto& [key, host] : down_) {
        if (now - host.lastSent >= period) {
            due.emplace_back(key, host.item);
        }
    }
    if (due.empty()) {
        return false;
    }
    // The question goes to the document, so it is asked without the queue's lock.
    lock.unlock();
    std::erase_if(due, [this](const auto& host) { return stillDown_ && !stillDown_(host.second); });
    lock.lock();
    bool reminded = false;
    for (const auto& [key, item] : due) {
        // An up may have come meanwhile.
        const auto host = down_.find(key);
        if (host == down_.end() || closing_) {
            continue;
        }
        host->second.lastSent = now;
        queue_.push_back({reminderMessage(item, host->second.since, now),
                          "vardomon-" + std::to_string(now) + "-" + std::to_string(++sequence_) + "-r"});
        reminded = true;
    }
    return reminded;
}

void ChannelWorker::deliver(const Pending& pending, const ChannelSettings& settings) {
    std::chrono::milliseconds pause = timing_.firstPause;
    for (int attempt = 1;; ++attempt) {
        const ChannelTry outcome = sender_.send(settings, pending.message, pending.txn);
        switch (outcome.result) {
            case ChannelTry::Result::Sent:
                if (outcome_) {
                    outcome_(settings.name, true);
                }
                return;
            case ChannelTry::Result::Cancelled:
                dropped();
                return;
            case ChannelTry::Result::WorthAnotherTry:
                if (attempt < kTries) {
                    std::unique_lock lock(mutex_);
                    if (wake_.wait_for(lock, pause, [this] { return aborting_; })) {
                        lock.unlock();
                        dropped();
                        return;
                    }
                    pause *= 2;
                    continue;
                }
                [[fallthrough]];
            case ChannelTry::Result::Failed:
                log_.logEvent("Notification to " + settings.name + " failed: " + outcome.reason, clock_.now());
                if (outcome_) {
                    outcome_(settings.name, false);
                }
                return;
        }
    }
}

void ChannelWorker::dropped() {
    std::string name;
    {
        std::lock_guard lock(mutex_);
        name = settings_.name;
    }
    log_.logEvent("Notification to " + name + " dropped: program closing", clock_.now());
    if (outcome_) {
        outcome_(name, false);
    }
}

void ChannelWorker::finish(std::chrono::steady_clock::time_point deadline) {
    {
        std::unique_lock lock(mutex_);
        closing_ = true;
        down_.clear();
        wake_.notify_all();
        idle_.wait_until(lock, deadline, [this] { return queue_.empty() && !busy_; });
        aborting_ = true;
        wake_.notify_all();
    }
    sender_.cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}
