#include "daemon/CycleWatch.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

CycleWatch::CycleWatch() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) {
        throw std::runtime_error(std::string("cannot make an event descriptor: ") + std::strerror(errno));
    }
}

CycleWatch::~CycleWatch() {
    ::close(fd_);
}

std::uint64_t CycleWatch::takeEnded() {
    std::uint64_t count = 0;
    while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    return count;
}

void CycleWatch::refreshHostRows() {
    if (stopFlags_ != nullptr) {
        stopFlags_->running = false;
    }
    inCycle_ = false;
    const std::uint64_t one = 1;
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}
