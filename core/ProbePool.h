// The probe sets of the workers of a cycle that checks several hosts at once, one set per
// worker: a socket, a pinger or a service connection is never shared between threads. Sets
// are made when first wanted and kept for later cycles.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/Monitor.h"

class ProbePool {
  public:
    using Maker = std::function<std::unique_ptr<HostProbes>()>;

    explicit ProbePool(Maker make) : make_(std::move(make)) {}
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;

    // Makes sets until there are `count`, or until one cannot be made (no descriptors
    // left); returns how many there are.
    std::size_t reserve(std::size_t count);
    // Set k, for k below what reserve returned; it stays where it is for the pool's life.
    HostProbes& at(std::size_t k);
    // Ends every set's waiting check at once; safe from any thread.
    void cancelAll();

  private:
    Maker make_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<HostProbes>> sets_;
};
