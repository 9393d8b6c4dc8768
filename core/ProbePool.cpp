#include "core/ProbePool.h"

#include <algorithm>
#include <exception>
#include <system_error>

ProbePool::~ProbePool() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (const std::unique_ptr<Worker>& w : workers_) {
        w->thread.join();
    }
}

void ProbePool::serve(Worker& worker, std::size_t k) {
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || worker.leave || (round_ != seen && k < wanted_); });
        if (quit_ || worker.leave) {
            return;
        }
        seen = round_;
        const Job job = job_;
        lock.unlock();
        job(*worker.set);
        lock.lock();
        if (--busy_ == 0) {
            done_.notify_all();
        }
    }
}

std::size_t ProbePool::reserve(std::size_t count) {
    std::unique_lock lock(mutex_);
    count = std::min(count, most_);
    while (workers_.size() < count && make_) {
        // Made outside the lock, so a cancel from the closing window never waits on it.
        lock.unlock();
        auto worker = std::make_unique<Worker>();
        try {
            worker->set = make_();
        } catch (const std::exception&) {
        }
        lock.lock();
        if (!worker->set) {
            break;
        }
        const std::size_t k = workers_.size();
        try {
            worker->thread = std::thread([this, w = worker.get(), k] { serve(*w, k); });
        } catch (const std::system_error&) {
            break;
        }
        workers_.push_back(std::move(worker));
    }
    return workers_.size();
}

void ProbePool::shrink(std::size_t count) {
    std::vector<std::unique_ptr<Worker>> leaving;
    {
        std::lock_guard lock(mutex_);
        while (workers_.size() > count) {
            workers_.back()->leave = true;
            leaving.push_back(std::move(workers_.back()));
            workers_.pop_back();
        }
    }
    wake_.notify_all();
    for (const std::unique_ptr<Worker>& w : leaving) {
        w->thread.join();
    }
}

void ProbePool::start(std::size_t count, Job job) {
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        wanted_ = count;
        busy_ = count;
        ++round_;
    }
    wake_.notify_all();
}

void ProbePool::wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
}

void ProbePool::cancelAll() {
    std::lock_guard lock(mutex_);
    for (const std::unique_ptr<Worker>& w : workers_) {
        w->set->cancel();
    }
}
