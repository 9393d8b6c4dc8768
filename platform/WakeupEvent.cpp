#include "platform/WakeupEvent.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

WakeupEvent::WakeupEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!fd_) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

void WakeupEvent::signal() noexcept {
    // The counter saturates long before it could fail; a full counter is still readable.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

void WakeupEvent::drain() noexcept {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.get(), &value, sizeof value);
}
