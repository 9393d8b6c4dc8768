#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/ConfigLocation.h"
#include "storage/ConfigFile.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace {

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) {
        s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return s;
}

std::string text(const std::string& t) {
    return le32(static_cast<std::uint32_t>(t.size())) + t;
}

std::string header() {
    return le32(0xCAFEF00D) + le32(3);
}

class ConfigFile : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("vardo.cfg");
};

TEST_F(ConfigFile, DefaultsAreTheFiftyTwoByteFile) {
    ServerCfg cfg;
    cfg.fileName = path;
    ASSERT_TRUE(cfg.save());
    const std::string expected = header() + std::string(28, '\0') + le32(1) + le32(5000) + le32(1) + le32(0);
    EXPECT_EQ(readFileBytes(path), expected);
    EXPECT_EQ(expected.size(), 52u);
}

TEST_F(ConfigFile, EveryFieldRoundTripsAndTextsAreCutAtNul) {
    ServerCfg cfg;
    cfg.fileName = path;
    cfg.mailServer = "smtp.example";
    cfg.fromAddress = "mon@example";
    cfg.fromName = "Monitor \xC4";
    cfg.mailSubject = std::string("down\0rest", 9);
    cfg.dialPrefix = "9";
    cfg.lastDoc = "/home/a/hosts.vdm";
    cfg.logFile = "/var/log/v.log";
    cfg.interval = 3;
    cfg.connectTimeout = -1;
    cfg.openLast = 7;
    cfg.doLog = 1;
    ASSERT_TRUE(cfg.save());
    ServerCfg back;
    ASSERT_TRUE(back.load(path));
    ServerCfg expected = cfg;
    expected.mailSubject = "down";
    EXPECT_EQ(back, expected);
    EXPECT_EQ(back.fileName, path);
}

TEST_F(ConfigFile, ForeignOrOtherVersionFilesLeaveTheDefaults) {
    const std::map<std::string, std::string> cases = {
        {le32(0xCAFEF00E) + le32(3), "This file does not appear to be a Vardomon config file."},
        {"", "This file does not appear to be a Vardomon config file."},
        {"\x0D\xF0", "This file does not appear to be a Vardomon config file."},
        {le32(0xCAFEF00D) + le32(2) + text("x"), "Incompatible Vardomon config version."},
        {le32(0xCAFEF00D) + le32(4), "Incompatible Vardomon config version."},
        {le32(0xCAFEF00D), "Incompatible Vardomon config version."},
    };
    for (const auto& [bytes, message] : cases) {
        writeFileBytes(path, bytes);
        ServerCfg cfg;
        EXPECT_FALSE(cfg.load(path));
        EXPECT_EQ(cfg.errorText, message);
        EXPECT_EQ(cfg.fileName, path);
        cfg.errorText.clear();
        cfg.fileName.clear();
        EXPECT_EQ(cfg, ServerCfg{});
    }
    ServerCfg missing;
    EXPECT_FALSE(missing.load(dir.file("none.cfg")));
    EXPECT_EQ(missing.errorText, "Failed to open config file for reading.");
    EXPECT_EQ(missing.fileName, dir.file("none.cfg"));
}

TEST_F(ConfigFile, AFileEndingBetweenFieldsSetsWhatItHolds) {
    writeFileBytes(path, header() + text("mx") + text("from@x") + text("From") + text("Subj"));
    ServerCfg cfg;
    ASSERT_TRUE(cfg.load(path));
    EXPECT_EQ(cfg.mailServer, "mx");
    EXPECT_EQ(cfg.mailSubject, "Subj");
    EXPECT_EQ(cfg.lastDoc, "");
    EXPECT_EQ(cfg.interval, 1);
    EXPECT_EQ(cfg.connectTimeout, 5000);

    writeFileBytes(path, header() + std::string(28, '\0') + le32(4));
    ServerCfg partial;
    ASSERT_TRUE(partial.load(path));
    EXPECT_EQ(partial.interval, 4);
    EXPECT_EQ(partial.connectTimeout, 5000);
}

TEST_F(ConfigFile, AZeroCountKeepsTheCurrentValue) {
    writeFileBytes(path, header() + le32(0) + text("new@x") + std::string(20, '\0') + le32(2) + le32(100) +
                             le32(0) + le32(1));
    ServerCfg cfg;
    cfg.mailServer = "kept";
    ASSERT_TRUE(cfg.load(path));
    EXPECT_EQ(cfg.mailServer, "kept");
    EXPECT_EQ(cfg.fromAddress, "new@x");
    EXPECT_EQ(cfg.openLast, 0);
    EXPECT_EQ(cfg.doLog, 1);
}

TEST_F(ConfigFile, DamageFailsAndLeavesEveryField) {
    const std::string damaged[] = {
        header() + text("mx") + le32(0xFFFFFFF0),             // negative count
        header() + text("mx") + le32(1000) + "short",         // count beyond the end
        header() + text("mx") + "\x01\x00",                   // ends inside a count
        header() + std::string(28, '\0') + le32(2) + "\x01",  // ends inside a number
    };
    for (const std::string& bytes : damaged) {
        writeFileBytes(path, bytes);
        ServerCfg cfg;
        EXPECT_FALSE(cfg.load(path));
        EXPECT_EQ(cfg.mailServer, "");
        EXPECT_EQ(cfg.interval, 1);
        EXPECT_FALSE(cfg.errorText.empty());
    }
}

TEST_F(ConfigFile, SaveCreatesTheFolderAndAFailedWriteKeepsTheOldFile) {
    ServerCfg cfg;
    cfg.fileName = dir.file("a/b/vardo.cfg");
    ASSERT_TRUE(cfg.save());
    const std::string before = readFileBytes(cfg.fileName);

    cfg.lastDoc = std::string(10000, 'x');
    bool saved = true;
    {
        const FileSizeLimit limit(1024);
        saved = cfg.save();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(cfg.errorText, "Exception while saving config file: File too large");
    EXPECT_EQ(readFileBytes(cfg.fileName), before);

    writeFileBytes(dir.file("plain"), "x");
    ServerCfg blocked;
    blocked.fileName = dir.file("plain/vardo.cfg");
    EXPECT_FALSE(blocked.save());
    EXPECT_EQ(blocked.errorText, "Failed to open config file for writing.");

    // A read-only file is refused, not replaced behind its back.
    std::filesystem::permissions(cfg.fileName, std::filesystem::perms::owner_read);
    cfg.errorText.clear();
    EXPECT_FALSE(cfg.save());
    EXPECT_EQ(cfg.errorText, "Failed to open config file for writing.");
    EXPECT_EQ(readFileBytes(cfg.fileName), before);
}

TEST(ConfigLocation, FollowsXdgConfigHome) {
    static std::map<std::string, const char*> env;
    const auto fake = [](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second;
    };
    env = {{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}};
    EXPECT_EQ(configFilePath(fake), "/x/cfg/kestrune-vardomon/vardo.cfg");
    env = {{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/home/u"}};
    EXPECT_EQ(configFilePath(fake), "/home/u/.config/kestrune-vardomon/vardo.cfg");
    env = {{"HOME", "/home/u"}};
    EXPECT_EQ(configFilePath(fake), "/home/u/.config/kestrune-vardomon/vardo.cfg");
}

}  // namespace
