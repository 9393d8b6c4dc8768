// Starting programs on behalf of the actions: a command line run by the shell and waited
// for, and a program started without a shell and left to run on its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/CommandCancel.h"

// The words of a command line: blanks and tabs separate words, double quotes group words
// (the quote characters themselves are dropped; "" is an empty word). Nothing else is
// special, so a backslash or a dollar sign stays as typed.
std::vector<std::string> splitCommandLine(const std::string& line);

class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    // Runs the line with /bin/sh -c and waits until it has ended; the exit status is of no
    // interest.
    virtual void runShellCommand(const std::string& commandLine) = 0;
    // Starts the program the line names, with the line's words as its arguments, without a
    // shell, in the folder "/"; it is not waited for. Whether it could be started.
    virtual bool launchCommand(const std::string& commandLine) = 0;
    // Ends the command runShellCommand is waiting for, if any, so the wait ends soon; safe
    // from any thread. A command started later is not affected.
    virtual void cancel() {}
};

class PosixProcessRunner final : public ProcessRunner {
  public:
    // How long a cancelled command has to end after SIGTERM before it gets SIGKILL.
    static constexpr std::chrono::milliseconds kTerminateGrace{500};

    PosixProcessRunner() = default;
    PosixProcessRunner(const PosixProcessRunner&) = delete;
    PosixProcessRunner& operator=(const PosixProcessRunner&) = delete;

    // The command runs in a process group of its own, so that a cancel reaches everything it
    // started (a pipeline, a program it waits for).
    void runShellCommand(const std::string& commandLine) override;
    bool launchCommand(const std::string& commandLine) override;
    // SIGTERM to the command's process group, SIGKILL after kTerminateGrace.
    void cancel() override;

  private:
    CommandCancel cancel_;
};

// The standard output of a command run for its answer (a password), or why there is none.
struct CommandOutput {
    bool ok = false;
    std::string output;
    // Why the output is not to be used; it names the program and never holds its output.
    std::string error;
};

// Runs commands for their standard output, one at a time.
class CommandOutputReader {
  public:
    CommandOutputReader() = default;
    CommandOutputReader(const CommandOutputReader&) = delete;
    CommandOutputReader& operator=(const CommandOutputReader&) = delete;

    // Runs the program the line names with the line's words as its arguments (split as
    // launchCommand splits them), without a shell, in the folder "/", with nothing on its
    // standard input. It must close its output and end with status 0 within limit, having
    // written at most maxBytes; otherwise its process group is killed and error says why.
    CommandOutput run(const std::string& commandLine, std::chrono::milliseconds limit, std::size_t maxBytes);
    // Ends a run that waits on another thread: the program is killed and run returns at
    // once. Safe from any thread; a run started later is not affected.
    void cancel();

  private:
    CommandCancel cancel_;
};

// Starts argv[0] (looked up on PATH) with argv, without a shell, in workingDir, the
// standard input reading stdinBytes and then its end (or the caller's standard input when
// none is given). The child is handed to the ChildReaper. Whether it was started.
bool spawnDetached(const std::vector<std::string>& argv, const std::string& workingDir,
                   const std::optional<std::string>& stdinBytes);
