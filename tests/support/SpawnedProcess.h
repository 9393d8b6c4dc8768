// Helper processes for tests (a real mail server): started without a shell, stopped and
// reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class SpawnedProcess {
  public:
    // Starts argv[0] (looked up on PATH) with extra environment entries "NAME=value"; the
    // child's standard output and error go to outputFile when one is given. Throws
    // std::runtime_error when it cannot be started.
    SpawnedProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                   const std::string& outputFile = {});
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Whether the process has not ended yet.
    bool alive();
    // Waits for the process to end by itself: its exit status (128 + the signal when one
    // ended it), or nothing when it still runs after limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    // Sends SIGTERM (SIGKILL after a grace time) and reaps it.
    void stop();

  private:
    pid_t pid_ = -1;
};

// Polls the condition every 20 ms until it holds or the time is up; whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
