#include "platform/Processes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/ChildReaper.h"

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
              ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    const posix_spawnattr_t* get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_{};
    bool ok_ = false;
};

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// A pipe whose read end becomes the child's standard input; the bytes are written before
// the child starts and the write end is closed, so the child reads them and then the end
// and the caller never blocks on a child that does not read. The read end, or an invalid
// Fd when no pipe could be made.
Fd filledInputPipe(const std::string& bytes) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return Fd();
    }
    Fd r(fds[0]);
    Fd w(fds[1]);
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
    std::vector<std::string> words = argvIn;
    std::vector<char*> argv = argvOf(words);

    SpawnActions actions;
    if (!actions.ok()) {
        return false;
    }
    Fd input;
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
    if (::posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ) != 0) {
        return false;
    }
    ChildReaper::instance().adopt(pid);
    return true;
}

void PosixProcessRunner::runShellCommand(const std::string& commandLine) {
    std::vector<std::string> words{"sh", "-c", commandLine};
    std::vector<char*> argv = argvOf(words);
    SpawnAttributes attributes;
    pid_t pid = 0;
    if (!attributes.ok() ||
        ::posix_spawn(&pid, "/bin/sh", nullptr, attributes.get(), argv.data(), environ) != 0) {
        return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool PosixProcessRunner::launchCommand(const std::string& commandLine) {
    return spawnDetached(splitCommandLine(commandLine), "/", std::nullopt);
}
