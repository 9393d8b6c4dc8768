#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ChildReaper.h"
#include "platform/OpenFileLimit.h"
#include "platform/Processes.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

using Words = std::vector<std::string>;

void writeScript(const std::string& path, const std::string& text) {
    writeFileBytes(path, "#!/bin/sh\n" + text);
    ::chmod(path.c_str(), 0755);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

TEST(CommandLine, BlanksSeparateAndDoubleQuotesGroup) {
    EXPECT_EQ(splitCommandLine(""), Words{});
    EXPECT_EQ(splitCommandLine("   "), Words{});
    EXPECT_EQ(splitCommandLine("prog a  b\tc"), (Words{"prog", "a", "b", "c"}));
    EXPECT_EQ(splitCommandLine("\"/opt/my tools/run\" \"two words\" x"),
              (Words{"/opt/my tools/run", "two words", "x"}));
    EXPECT_EQ(splitCommandLine("a\"b c\"d \"\""), (Words{"ab cd", ""}));
    EXPECT_EQ(splitCommandLine("echo $(id) ; rm `x` \\n"), (Words{"echo", "$(id)", ";", "rm", "`x`", "\\n"}));
    EXPECT_EQ(splitCommandLine("\"unclosed quote"), Words{"unclosed quote"});
}

TEST(ShellCommand, RunsThroughTheShellAndReturnsWhenItHasEnded) {
    TempDir dir;
    const std::string out = dir.file("out");
    PosixProcessRunner runner;
    runner.runShellCommand("sleep 0.3; echo one | tr o O > '" + out + "'; exit 3");
    EXPECT_EQ(readFileBytes(out), "One\n");
    runner.runShellCommand("no-such-program-here 2>/dev/null");  // a failure is of no interest
}

TEST(ShellCommand, CommandsGetTheDescriptorLimitTheProgramWasGiven) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 2048) {
        GTEST_SKIP() << "the hard limit on descriptors is below 2,048";
    }
    limit.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    raiseOpenFileLimit();
    TempDir dir;
    PosixProcessRunner runner;
    runner.runShellCommand("ulimit -S -n > '" + dir.file("limit") + "'");
    EXPECT_EQ(readFileBytes(dir.file("limit")), "1000\n");
    CommandOutputReader reader;
    EXPECT_EQ(reader.run("sh -c \"ulimit -S -n\"", std::chrono::seconds(30), 100).output, "1000\n");
}

TEST(LaunchCommand, StartsWithoutAShellInTheRootFolderAndDoesNotWait) {
    TempDir dir;
    const std::string go = dir.file("go");
    const std::string out = dir.file("out");
    const std::string script = dir.file("record");
    writeScript(script, "while [ ! -e '" + go +
                            "' ]; do sleep 0.02; done\n"
                            "{ pwd; echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > '" +
                            out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n");
    PosixProcessRunner runner;
    // The program waits for "go", so returning at all shows that nothing waited for it.
    ASSERT_TRUE(runner.launchCommand("\"" + script + "\" \"two words\" $(id) ;"));
    EXPECT_FALSE(exists(out));
    writeFileBytes(go, "");
    ASSERT_TRUE(waitUntil([&] { return exists(out); }));
    EXPECT_EQ(readFileBytes(out), "/\n3\n[two words]\n[$(id)]\n[;]\n");

    // Nobody waits for the child, yet it does not stay behind as a zombie.
    ASSERT_TRUE(waitUntil([] { return ChildReaper::instance().pending() == 0; }));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(LaunchCommand, FindsProgramsOnThePathAndReportsWhatCannotStart) {
    PosixProcessRunner runner;
    EXPECT_TRUE(runner.launchCommand("true"));
    EXPECT_FALSE(runner.launchCommand("no-such-program-here --flag"));
    EXPECT_FALSE(runner.launchCommand(""));
    EXPECT_FALSE(runner.launchCommand("\"\" x"));
    ASSERT_TRUE(waitUntil([] { return ChildReaper::instance().pending() == 0; }));
}

// The child of this process whose program is name, if there is one.
std::optional<pid_t> childNamed(const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string stat;
        try {
            stat = readFileBytes(entry.path().string() + "/stat");
        } catch (const std::exception&) {
            continue;  // the process has just ended
        }
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos ||
            stat.substr(stat.find('(') + 1, close - stat.find('(') - 1) != name) {
            continue;
        }
        // After the name: the state, then the parent.
        if (std::stol(stat.substr(close + 4)) == ::getpid()) {
            return static_cast<pid_t>(std::stol(stat));
        }
    }
    return std::nullopt;
}

// The daemon blocks SIGTERM, SIGINT and SIGHUP in every thread and ignores SIGPIPE; the
// commands it starts must not inherit either, or they could not be stopped the usual way.
TEST(LaunchCommand, ChildrenStartWithNoSignalBlockedOrIgnored) {
    TempDir dir;
    const std::string shell = dir.file("shell");
    sigset_t blocked;
    sigset_t before;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &before), 0);
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    PosixProcessRunner runner;
    runner.runShellCommand("grep SigIgn /proc/self/status > '" + shell + "'");
    const bool started = runner.launchCommand("sleep 30");
    ::sigaction(SIGPIPE, &old, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ASSERT_TRUE(started);

    const auto bit = [](int signal) { return 1ULL << (signal - 1); };
    const auto mask = [](const std::string& status, const std::string& name) {
        const std::size_t at = status.find(name + ":\t");
        return at == std::string::npos ? ~0ULL
                                       : std::stoull(status.substr(at + name.size() + 2), nullptr, 16);
    };
    EXPECT_EQ(mask(readFileBytes(shell), "SigIgn") & bit(SIGPIPE), 0U) << readFileBytes(shell);
    std::optional<pid_t> child;
    ASSERT_TRUE(waitUntil([&] { return (child = childNamed("sleep")).has_value(); }));
    const std::string status = readFileBytes("/proc/" + std::to_string(*child) + "/status");
    EXPECT_EQ(mask(status, "SigBlk") & (bit(SIGTERM) | bit(SIGHUP)), 0U) << status;
    EXPECT_EQ(mask(status, "SigIgn") & bit(SIGPIPE), 0U) << status;
    ::kill(*child, SIGTERM);
    const bool ended =
        waitUntil([] { return ChildReaper::instance().pending() == 0; }, std::chrono::seconds(3));
    if (!ended) {
        ::kill(*child, SIGKILL);
    }
    EXPECT_TRUE(ended) << "SIGTERM did not end the command";
}

// A command run for its output (a password): no shell, and a bound on both its time and its
// output, which a failure never passes on.
TEST(CommandOutput, TakesTheOutputOfAProgramThatEndsWellAndNothingElse) {
    CommandOutputReader reader;
    const CommandOutput out = reader.run("echo \"a  b\" $HOME", std::chrono::seconds(10), 100);
    EXPECT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.output, "a  b $HOME\n");

    const auto start = std::chrono::steady_clock::now();
    const std::pair<const char*, const char*> failures[] = {
        {"sh -c \"echo secret; exit 3\"", "sh ended with status 3"},
        {"sh -c \"echo secret; sleep 30\"", "sh did not end in time"},
        {"yes", "yes wrote more than 100 bytes"},
        {"no-such-program-here", "no-such-program-here cannot be started: No such file or directory"},
    };
    for (const auto& [command, error] : failures) {
        const CommandOutput failed = reader.run(command, std::chrono::milliseconds(300), 100);
        EXPECT_FALSE(failed.ok) << command;
        EXPECT_EQ(failed.error, error);
        EXPECT_EQ(failed.output, "");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

// With SIGCHLD ignored the system reaps the command itself: a status never seen is no success.
TEST(CommandOutput, ALostExitStatusIsAFailure) {
    std::signal(SIGCHLD, SIG_IGN);
    CommandOutputReader reader;
    const CommandOutput out = reader.run("sh -c \"printf part; exit 3\"", std::chrono::seconds(10), 100);
    std::signal(SIGCHLD, SIG_DFL);
    EXPECT_EQ(out.error, "sh ended with an unknown status: No child processes");
    EXPECT_EQ(out.output, "");
}

}  // namespace
