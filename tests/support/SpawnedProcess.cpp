#include "support/SpawnedProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra) {
            if (x.substr(0, x.find('=')) == name) {
                replaced = true;
            }
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

}  // namespace

SpawnedProcess::SpawnedProcess(const std::vector<std::string>& argvIn,
                               const std::vector<std::string>& extraEnv, const std::string& outputFile) {
    std::vector<std::string> args = argvIn;
    std::vector<std::string> env = environmentWith(extraEnv);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    const int r = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argvIn.front() + ": " + std::strerror(r));
    }
}

SpawnedProcess::~SpawnedProcess() {
    stop();
}

bool SpawnedProcess::alive() {
    if (pid_ <= 0) {
        return false;
    }
    const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

std::optional<int> SpawnedProcess::waitForExit(std::chrono::milliseconds limit) {
    int status = 0;
    if (pid_ <= 0 || !waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) {
        return std::nullopt;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void SpawnedProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const bool ended = waitUntil([this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; },
                                 std::chrono::milliseconds(3000));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
