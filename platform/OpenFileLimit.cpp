#include "platform/OpenFileLimit.h"

#include <sys/resource.h>

#include <algorithm>

namespace {

constexpr rlim_t kWanted = 8192;

}  // namespace

void raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kWanted) {
        return;
    }
    limit.rlim_cur = std::min(limit.rlim_max, kWanted);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}
