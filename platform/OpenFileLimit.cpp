#include "platform/OpenFileLimit.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace {

constexpr rlim_t kWanted = 8192;

// 0 until raiseOpenFileLimit has raised the limit.
std::atomic<rlim_t> startedWith{0};

}  // namespace

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kWanted ||
        limit.rlim_cur >= limit.rlim_max) {
        return;
    }
    const rlim_t given = limit.rlim_cur;
    limit.rlim_cur = std::min(limit.rlim_max, kWanted);
    if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) {
        rlim_t none = 0;
        // Raised more than once, the first value is the one the program was given.
        startedWith.compare_exchange_strong(none, given);
    }
}

std::optional<unsigned long> startingOpenFileLimit() {
    const rlim_t given = startedWith.load();
    rlimit limit{};
    if (given == 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == given) {
        return std::nullopt;
    }
    return static_cast<unsigned long>(given);
}

std::size_t openDescriptorCount() {
    std::error_code ec;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++count;
    }
    // The listing itself held one.
    return count > 0 ? count - 1 : 0;
}

std::size_t spareDescriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return SIZE_MAX;
    }
    const std::size_t usable = static_cast<std::size_t>(limit.rlim_cur - limit.rlim_cur / 4);
    const std::size_t open = openDescriptorCount();
    return usable > open ? usable - open : 0;
}
