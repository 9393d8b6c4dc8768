#include "platform/ChildReaper.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CommandCancel.h"

namespace {

struct Child {
    pid_t pid;
    int pidfd;
};

}  // namespace

// One thread waits on a pidfd per child and on an eventfd that says "the list changed" or
// "stop"; so a child is reaped the moment it ends and no thread per child is needed.
struct ChildReaper::State {
    mutable std::mutex mutex;
    std::vector<Child> children;
    bool stopping = false;
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread thread;

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    void run() {
        std::vector<pollfd> fds;
        std::vector<Child> watched;
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (stopping) {
                    return;
                }
                watched = children;
            }
            fds.assign(1, pollfd{wakeFd, POLLIN, 0});
            for (const Child& c : watched) {
                fds.push_back(pollfd{c.pidfd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                const Child c = watched[i - 1];
                const pid_t r = ::waitpid(c.pid, nullptr, WNOHANG);
                if (r == c.pid || (r < 0 && errno == ECHILD)) {
                    std::lock_guard lock(mutex);
                    std::erase_if(children, [&](const Child& x) { return x.pid == c.pid; });
                    ::close(c.pidfd);
                }
            }
        }
    }
};

ChildReaper& ChildReaper::instance() {
    static ChildReaper reaper;
    return reaper;
}

ChildReaper::ChildReaper() : state_(std::make_unique<State>()) {}

ChildReaper::~ChildReaper() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    if (state_->thread.joinable()) {
        state_->wake();
        state_->thread.join();
    }
    for (const Child& c : state_->children) {
        ::close(c.pidfd);
    }
    if (state_->wakeFd >= 0) {
        ::close(state_->wakeFd);
    }
}

void ChildReaper::adopt(pid_t pid) {
    const int pidfd = state_->wakeFd >= 0 ? openPidFd(pid) : -1;
    if (pidfd < 0) {
        // Without pidfds (an old kernel) a thread of its own waits for this one child.
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return;
    }
    std::lock_guard lock(state_->mutex);
    state_->children.push_back(Child{pid, pidfd});
    if (!state_->thread.joinable()) {
        state_->thread = std::thread([s = state_.get()] { s->run(); });
    }
    state_->wake();
}

std::size_t ChildReaper::pending() const {
    std::lock_guard lock(state_->mutex);
    return state_->children.size();
}
