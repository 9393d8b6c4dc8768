// The workers of the cycles that check several hosts at once, each with a probe set of its
// own: a socket, a pinger or a service connection is never shared between threads. Workers
// are made when first wanted and wait between cycles, so a cycle starts none.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/Monitor.h"

class ProbePool {
  public:
    using Maker = std::function<std::unique_ptr<HostProbes>()>;
    using Job = std::function<void(HostProbes&)>;

    // At most `most` workers are ever made: what the process's descriptors leave room for.
    explicit ProbePool(Maker make, std::size_t most = std::numeric_limits<std::size_t>::max())
        : make_(std::move(make)), most_(most) {}
    // Ends the workers; none may be running a job.
    ~ProbePool();
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;

    // Makes workers until there are `count` (at most `most`), or until one cannot be made
    // (no descriptors or threads left); returns how many there are.
    std::size_t reserve(std::size_t count);
    // Ends the workers beyond the first `count`, with their probe sets; none may be running a
    // job. An idle set still holds its sockets, so fewer checks at once free them at once.
    void shrink(std::size_t count);
    std::size_t most() const { return most_; }
    // Whether a cut of `asked` checks at once down to most() is still to be told: true the
    // first time for each number asked (monitor thread).
    bool cutToBeTold(std::size_t asked) { return std::exchange(cutTold_, asked) != asked; }
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
        bool leave = false;
    };
    void serve(Worker& worker, std::size_t k);

    Maker make_;
    const std::size_t most_;
    std::size_t cutTold_ = 0;
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
