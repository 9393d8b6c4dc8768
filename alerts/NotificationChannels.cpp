#include "alerts/NotificationChannels.h"

#include <set>

#include "core/Utf8Text.h"

NotificationChannels::NotificationChannels(const LiveConfig& cfg, Clock& clock, EventLogger& log,
                                           ChannelTiming timing)
    : cfg_(cfg), clock_(clock), log_(log), timing_(timing) {}

NotificationChannels::~NotificationChannels() {
    close(std::chrono::milliseconds(0));
}

std::vector<ChannelWorker*> NotificationChannels::workersFor(const ServerItem& item) {
    const std::vector<ChannelSettings> channels = cfg_.extra().channels;
    const std::string name = asUtf8(item.name);
    std::vector<ChannelWorker*> out;
    if (closed_) {
        return out;
    }
    std::set<std::string> live;
    for (const ChannelSettings& c : channels) {
        live.insert(c.name);
        auto it = workers_.find(c.name);
        if (it == workers_.end()) {
            it = workers_
                     .emplace(c.name, std::make_unique<ChannelWorker>(
                                          c, clock_, log_,
                                          [this](const std::string& channel, bool sent) { report(channel, sent); },
                                          [this](const ServerItem& host) { return !stillDown_ || stillDown_(host); },
                                          timing_))
                     .first;
        } else {
            it->second->update(c);
        }
        if (channelTakesHost(c, name)) {
            out.push_back(it->second.get());
        }
    }
    for (auto& [channel, worker] : workers_) {
        if (live.count(channel) == 0) {
            worker->forgetHosts();
        }
    }
    return out;
}

void NotificationChannels::hostDown(const ServerItem& item, std::time_t now) {
    std::lock_guard lock(mutex_);
    for (ChannelWorker* worker : workersFor(item)) {
        worker->hostDown(item, now);
    }
}

void NotificationChannels::hostUp(const ServerItem& item, std::time_t now) {
    std::lock_guard lock(mutex_);
    for (ChannelWorker* worker : workersFor(item)) {
        worker->hostUp(item, now);
    }
}

void NotificationChannels::poke() {
    std::lock_guard lock(mutex_);
    for (auto& [channel, worker] : workers_) {
        worker->poke();
    }
}

void NotificationChannels::setOutcomeObserver(ChannelWorker::Outcome observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

void NotificationChannels::report(const std::string& channel, bool sent) {
    std::lock_guard lock(observerMutex_);
    if (observer_) {
        observer_(channel, sent);
    }
}

void NotificationChannels::close(std::chrono::milliseconds grace) {
    std::map<std::string, std::unique_ptr<ChannelWorker>> workers;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        workers.swap(workers_);
    }
    // One deadline for all: the close waits grace in all, not grace per channel.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (auto& [channel, worker] : workers) {
        worker->finish(deadline);
    }
}
