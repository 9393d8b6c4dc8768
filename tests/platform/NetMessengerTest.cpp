#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/NetMessenger.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A stand-in smbclient first on PATH that records its arguments and standard input.
class StandInSmbclient : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string bin = dir.file("bin");
        ::mkdir(bin.c_str(), 0755);
        const std::string script = bin + "/smbclient";
        writeFileBytes(script,
                       "#!/bin/sh\n"
                       "n=$(ls '" +
                           dir.path() +
                           "' | grep -c '^call')\n"
                           "cat > '" +
                           dir.path() +
                           "/stdin'$n\n"
                           "printf '[%s]' \"$@\" > '" +
                           dir.path() +
                           "/args'$n\n"
                           "touch '" +
                           dir.path() + "/call'$n\n");
        ::chmod(script.c_str(), 0755);
        oldPath = std::getenv("PATH");
        ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", oldPath.c_str(), 1); }

    TempDir dir;
    std::string oldPath;
};

TEST_F(StandInSmbclient, TargetIsAnArgumentAndTheMessageGoesToStandardInput) {
    SmbclientMessenger messenger;
    const std::string message = "Backup went down; $(touch pwned) `touch pwned2` | \"quoted\"\nsecond line";
    ASSERT_TRUE(messenger.sendNetMessage("-target one", message));
    ASSERT_TRUE(waitUntil([&] { return exists(dir.file("call0")); }));
    EXPECT_EQ(readFileBytes(dir.file("args0")), "[-M][-target one]");
    EXPECT_EQ(readFileBytes(dir.file("stdin0")), message);
    EXPECT_FALSE(exists("/pwned"));
    EXPECT_FALSE(exists("/pwned2"));
}

TEST_F(StandInSmbclient, AMissingProgramIsReported) {
    SmbclientMessenger messenger("no-such-smbclient");
    EXPECT_FALSE(messenger.sendNetMessage("alpha", "x"));
}

}  // namespace
