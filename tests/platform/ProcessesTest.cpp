#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/ChildReaper.h"
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

}  // namespace
