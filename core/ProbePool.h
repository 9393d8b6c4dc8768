// The workers of the cycles that check several hosts at once, each with a probe set of its
// own: a socket, a pinger or a service connection is never shared between threads. Workers
// are made when first wanted and wait between cycles, so a cycle starts none.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Monitor.h"

class ProbePool {
  public:
    using Maker = std::function<std::unique_ptr<HostProbes>()>;
    using Job = std::function<void(HostProbes&)>;

    explicit ProbePool(Maker make) : make_(std::move(make)) {}
    // Ends the workers; none may be running a job.
    ~ProbePool();
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;

    // Makes workers until there are `count`, or until one cannot be made (no descriptors
    // or threads left); returns how many there are.
    std::size_t reserve(std::size_t count);
    // Runs job on the first `count` workers (count at most what reserve returned), each with
    // its own probe set, and returns at once; wait() returns once every one has finished.
    void start(std::size_t count, Job job);
    void wait();
    // Ends every set's waiting check at once; safe from any thread.
    void cancelAll();

  private:
    struct Worker {
        std::unique_ptr<HostProbes> set;
        std::thread thread;
    };
    void serve(Worker& worker, std::size_t k);

    Maker make_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::unique_ptr<Worker>> workers_;
    Job job_;
    std::size_t wanted_ = 0;
    std::size_t busy_ = 0;
    std::uint64_t round_ = 0;
    bool quit_ = false;
};
