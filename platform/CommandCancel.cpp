#include "platform/CommandCancel.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

CommandCancel::Waiting CommandCancel::begin() {
    std::lock_guard lock(mutex_);
    event_.drain();
    waiting_ = true;
    return Waiting(*this);
}

CommandCancel::Waiting::~Waiting() {
    std::lock_guard lock(owner_.mutex_);
    owner_.waiting_ = false;
}

void CommandCancel::cancel() {
    std::lock_guard lock(mutex_);
    if (waiting_) {
        event_.signal();
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
