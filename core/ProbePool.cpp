#include "core/ProbePool.h"

#include <exception>

std::size_t ProbePool::reserve(std::size_t count) {
    std::unique_lock lock(mutex_);
    while (sets_.size() < count && make_) {
        // Made outside the lock, so a cancel from the closing window never waits on it.
        lock.unlock();
        std::unique_ptr<HostProbes> made;
        try {
            made = make_();
        } catch (const std::exception&) {
        }
        lock.lock();
        if (!made) {
            break;
        }
        sets_.push_back(std::move(made));
    }
    return sets_.size();
}

HostProbes& ProbePool::at(std::size_t k) {
    std::lock_guard lock(mutex_);
    return *sets_.at(k);
}

void ProbePool::cancelAll() {
    std::lock_guard lock(mutex_);
    for (const std::unique_ptr<HostProbes>& set : sets_) {
        set->cancel();
    }
}
