#include "platform/CommandCancel.h"

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CommandCancel::CommandCancel() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CommandCancel::~CommandCancel() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

CommandCancel::Waiting CommandCancel::begin() {
    std::lock_guard lock(mutex_);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    waiting_ = true;
    return Waiting(*this);
}

CommandCancel::Waiting::~Waiting() {
    std::lock_guard lock(owner_.mutex_);
    owner_.waiting_ = false;
}

void CommandCancel::cancel() {
    std::lock_guard lock(mutex_);
    if (waiting_ && fd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}
