#include "platform/Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/ChildReaper.h"
#include "platform/OpenFileLimit.h"
#include "platform/UniqueFd.h"

extern char** environ;

namespace {

// posix_spawn's file actions and attributes, released on every way out.
class SpawnActions {
  public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// A child starts with no signal blocked and with the default action for the signals a front
// end blocks or ignores (the daemon takes SIGTERM, SIGINT and SIGHUP through a descriptor and
// ignores SIGPIPE): both would otherwise pass through exec, and a command could then not be
// stopped the usual way.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        ok_ = ::posix_spawnattr_init(&attr_) == 0;
        if (!ok_) {
            return;
        }
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (const int s : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) {
            sigaddset(&defaults, s);
        }
        ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
              ::posix_spawnattr_setsigdefault(&attr_, &defaults) == 0 &&
              ::posix_spawnattr_setflags(&attr_, flags_) == 0;
    }
    // The child leads a process group of its own, so that it and everything it starts can be
    // ended together.
    bool inGroupOfItsOwn() {
        flags_ |= POSIX_SPAWN_SETPGROUP;
        return ok_ && ::posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
               ::posix_spawnattr_setflags(&attr_, flags_) == 0;
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    const posix_spawnattr_t* get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_{};
    short flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    bool ok_ = false;
};

enum class ChildWait { Ended, Cancelled, TimedOut };

// Waits until the child has ended (it is not reaped), cancelFd (when not negative) becomes
// readable, or timeoutMs (negative: no limit) have passed. Without a pidfd (an old kernel) the
// child is looked at every 50 ms.
ChildWait waitForChild(pid_t pid, int pidfd, int cancelFd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (pidfd < 0) {
            siginfo_t info{};
            const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
            // ECHILD: with SIGCHLD ignored the system has reaped it already.
            if ((r == 0 && info.si_pid == pid) || (r < 0 && errno == ECHILD)) {
                return ChildWait::Ended;
            }
        }
        int slice = -1;
        if (timeoutMs >= 0) {
            slice = static_cast<int>(std::max<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count(), 0));
        }
        if (pidfd < 0 && (slice < 0 || slice > 50)) {
            slice = 50;
        }
        pollfd fds[2] = {{cancelFd, POLLIN, 0}, {pidfd, POLLIN, 0}};
        const int n = ::poll(fds, 2, slice);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return ChildWait::Ended;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return ChildWait::Cancelled;
        }
        if (timeoutMs >= 0 && Clock::now() >= end) {
            return ChildWait::TimedOut;
        }
    }
}

std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// 0 when posix_spawnp would find the program on PATH (or at the path it names) and may run
// it; otherwise the error its spawn would fail with.
int findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? 0 : errno;
    }
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr && *path != '\0' ? path : "/bin:/usr/bin";
    int error = ENOENT;
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string dir = end > at ? dirs.substr(at, end - at) : ".";
        const std::string full = dir + "/" + name;
        struct stat info {};
        if (::stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            if (::access(full.c_str(), X_OK) == 0) {
                return 0;
            }
            error = EACCES;
        }
        at = end + 1;
    }
    return error;
}

// Starts file with the words as its argv; the error of posix_spawnp, or 0. A child gets the
// descriptor limit the program was started with, not the one it raised for itself: programs
// that use select() go wrong with descriptors above 1,023. posix_spawn cannot set a limit,
// and lowering the program's own around the spawn would make the sockets other threads
// open meanwhile fail, so a shell lowers it in the child and then becomes the program.
int spawnWithStartingLimit(pid_t& pid, const std::string& file, std::vector<std::string> words,
                           const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes) {
    std::string program = file;
    if (const std::optional<unsigned long> limit = startingOpenFileLimit()) {
        // What posix_spawnp would refuse fails the same way, not as a shell's exit status.
        if (const int error = findProgram(file); error != 0) {
            return error;
        }
        words.front() = file;
        words.insert(
            words.begin(),
            {"sh", "-c", "ulimit -S -n " + std::to_string(*limit) + " 2>/dev/null; exec \"$@\"", "sh"});
        program = "/bin/sh";
    }
    std::vector<char*> argv = argvOf(words);
    return ::posix_spawnp(&pid, program.c_str(), actions, attributes, argv.data(), environ);
}

// A pipe whose read end becomes the child's standard input; the bytes are written before
// the child starts and the write end is closed, so the child reads them and then the end
// and the caller never blocks on a child that does not read. The read end, or an invalid
// UniqueFd when no pipe could be made.
UniqueFd filledInputPipe(const std::string& bytes) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return UniqueFd();
    }
    UniqueFd r(fds[0]);
    UniqueFd w(fds[1]);
    if (bytes.size() > 65536) {
        // A longer text needs a larger pipe; when the system refuses one, the rest is cut.
        ::fcntl(w.get(), F_SETPIPE_SZ, static_cast<int>(bytes.size()));
    }
    ::fcntl(w.get(), F_SETFL, O_NONBLOCK);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(w.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return r;
}

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (ch == ' ' || ch == '\t')) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += ch;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

bool spawnDetached(const std::vector<std::string>& argvIn, const std::string& workingDir,
                   const std::optional<std::string>& stdinBytes) {
    if (argvIn.empty() || argvIn.front().empty()) {
        return false;
    }
    SpawnActions actions;
    if (!actions.ok()) {
        return false;
    }
    UniqueFd input;
    if (stdinBytes) {
        input = filledInputPipe(*stdinBytes);
        if (input.get() < 0) {
            return false;
        }
        if (::posix_spawn_file_actions_adddup2(actions.get(), input.get(), STDIN_FILENO) != 0) {
            return false;
        }
    }
    if (!workingDir.empty() &&
        ::posix_spawn_file_actions_addchdir_np(actions.get(), workingDir.c_str()) != 0) {
        return false;
    }
    SpawnAttributes attributes;
    if (!attributes.ok()) {
        return false;
    }
    pid_t pid = 0;
    if (spawnWithStartingLimit(pid, argvIn.front(), argvIn, actions.get(), attributes.get()) != 0) {
        return false;
    }
    ChildReaper::instance().adopt(pid);
    return true;
}

void PosixProcessRunner::cancel() {
    cancel_.cancel();
}

void PosixProcessRunner::runShellCommand(const std::string& commandLine) {
    SpawnAttributes attributes;
    if (!attributes.ok() || !attributes.inGroupOfItsOwn()) {
        return;
    }
    const CommandCancel::Waiting waiting = cancel_.begin();

    pid_t pid = 0;
    if (spawnWithStartingLimit(pid, "/bin/sh", {"sh", "-c", commandLine}, nullptr, attributes.get()) != 0) {
        return;
    }
    const UniqueFd pidfd(openPidFd(pid));
    if (waitForChild(pid, pidfd.get(), cancel_.fd(), -1) == ChildWait::Cancelled) {
        // The group's id is the shell's, which stays taken until the shell is reaped below.
        ::kill(-pid, SIGTERM);
        ::kill(-pid, SIGCONT);  // a stopped command takes its SIGTERM only when it runs again
        if (waitForChild(pid, pidfd.get(), -1, static_cast<int>(kTerminateGrace.count())) !=
            ChildWait::Ended) {
            ::kill(-pid, SIGKILL);
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool PosixProcessRunner::launchCommand(const std::string& commandLine) {
    return spawnDetached(splitCommandLine(commandLine), "/", std::nullopt);
}

void CommandOutputReader::cancel() {
    cancel_.cancel();
}

CommandOutput CommandOutputReader::run(const std::string& commandLine, std::chrono::milliseconds limit,
                                       std::size_t maxBytes) {
    using Clock = std::chrono::steady_clock;
    CommandOutput result;
    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty() || words.front().empty()) {
        result.error = "the command is empty";
        return result;
    }
    const std::string program = words.front();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = program + " cannot be started: " + std::strerror(errno);
        return result;
    }
    UniqueFd output(fds[0]);
    UniqueFd input(fds[1]);
    ::fcntl(output.get(), F_SETFL, O_NONBLOCK);
    SpawnActions actions;
    SpawnAttributes attributes;
    // A group of its own, so that a kill reaches whatever it started too.
    if (!actions.ok() || !attributes.ok() ||
        ::posix_spawn_file_actions_adddup2(actions.get(), input.get(), STDOUT_FILENO) != 0 ||
        ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_addchdir_np(actions.get(), "/") != 0 || !attributes.inGroupOfItsOwn()) {
        result.error = program + " cannot be started";
        return result;
    }
    const CommandCancel::Waiting waiting = cancel_.begin();

    pid_t pid = 0;
    const int spawnError = spawnWithStartingLimit(pid, program, words, actions.get(), attributes.get());
    input.reset();
    if (spawnError != 0) {
        result.error = program + " cannot be started: " + std::strerror(spawnError);
        return result;
    }
    const UniqueFd pidfd(openPidFd(pid));
    const Clock::time_point end = Clock::now() + limit;
    auto msLeft = [&] {
        return static_cast<int>(
            std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count(), 0));
    };
    std::string failure;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(output.get(), buf, sizeof buf);
        if (n > 0) {
            result.output.append(buf, static_cast<std::size_t>(n));
            if (result.output.size() > maxBytes) {
                failure = program + " wrote more than " + std::to_string(maxBytes) + " bytes";
                break;
            }
            continue;
        }
        if (n == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            failure = program + " cannot be read: " + std::strerror(errno);
            break;
        }
        const int left = msLeft();
        if (left == 0) {
            failure = program + " did not end in time";
            break;
        }
        pollfd p[2] = {{cancel_.fd(), POLLIN, 0}, {output.get(), POLLIN, 0}};
        if (::poll(p, 2, left) < 0 && errno != EINTR) {
            failure = program + " cannot be read: " + std::strerror(errno);
            break;
        }
        if ((p[0].revents & POLLIN) != 0) {
            failure = program + " was cancelled";
            break;
        }
    }
    if (failure.empty()) {
        switch (waitForChild(pid, pidfd.get(), cancel_.fd(), msLeft())) {
            case ChildWait::Ended:
                break;
            case ChildWait::Cancelled:
                failure = program + " was cancelled";
                break;
            case ChildWait::TimedOut:
                failure = program + " did not end in time";
                break;
        }
    }
    if (!failure.empty()) {
        ::kill(-pid, SIGKILL);
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (failure.empty() && waited < 0) {
        // With SIGCHLD ignored the child is gone without a status: its output proves nothing.
        failure = program + " ended with an unknown status: " + std::strerror(errno);
    } else if (failure.empty() && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        failure = program + " ended with status " + std::to_string(WEXITSTATUS(status));
    } else if (failure.empty() && WIFSIGNALED(status)) {
        failure = program + " was ended by signal " + std::to_string(WTERMSIG(status));
    }
    if (!failure.empty()) {
        // The output may be part of a secret: it goes no further.
        ::explicit_bzero(result.output.data(), result.output.size());
        result.output.clear();
        result.error = failure;
        return result;
    }
    result.ok = true;
    return result;
}
