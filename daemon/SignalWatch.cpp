#include "daemon/SignalWatch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

sigset_t watched() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

SignalWatch::SignalWatch() {
    const sigset_t set = watched();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        throw std::runtime_error("cannot block the signals");
    }
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error(std::string("cannot watch the signals: ") + std::strerror(errno));
    }
}

SignalWatch::~SignalWatch() {
    ::close(fd_);
}

std::vector<int> SignalWatch::take() {
    std::vector<int> out;
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t n = ::read(fd_, &info, sizeof info);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n != static_cast<ssize_t>(sizeof info)) {
            return out;
        }
        out.push_back(static_cast<int>(info.ssi_signo));
    }
}
