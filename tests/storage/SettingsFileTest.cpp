#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>

#include "core/Vardo.h"
#include "storage/SettingsFile.h"
#include "support/TempDir.h"

namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("settings.toml");
};

TEST_F(SettingsFileTest, AMissingFileMeansTheDefaultsAndASaveKeepsWhatItDoesNotKnow) {
    SettingsFile file;
    ASSERT_TRUE(file.load(path));
    EXPECT_EQ(file.settings, Settings{});
    EXPECT_FALSE(std::filesystem::exists(path));

    writeFileBytes(path,
                   "# hand-written\n"
                   "future = 3\n"
                   "[mail]\n"
                   "port = 587\n"
                   "security = \"starttls\"\n"
                   "user = \"alerts@example.org\"\n"
                   "colour = \"blue\"\n"
                   "[metrics]\n"
                   "listen = \"[::1]:9469\"\n");
    ASSERT_TRUE(file.load(path)) << file.errorText;
    EXPECT_EQ(file.settings.mail.port, 587);
    EXPECT_EQ(file.settings.mail.security, MailSecurity::StartTls);
    EXPECT_EQ(file.settings.mail.user, "alerts@example.org");
    EXPECT_TRUE(file.settings.mail.verifyCertificate);
    EXPECT_EQ(file.settings.metrics.listen, "[::1]:9469");

    file.settings.mail.password = "s3cret";
    file.settings.mail.security = MailSecurity::Tls;
    ASSERT_TRUE(file.save()) << file.errorText;
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    SettingsFile again;
    ASSERT_TRUE(again.load(path)) << again.errorText;
    EXPECT_EQ(again.settings, file.settings);
    const std::string text = readFileBytes(path);
    EXPECT_NE(text.find("# hand-written\nfuture = 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("colour = \"blue\""), std::string::npos) << text;
    // Defaults the file did not name stay out of it.
    EXPECT_EQ(text.find("verify_certificate"), std::string::npos) << text;
}

TEST_F(SettingsFileTest, OneChangedSectionWritesThatSectionAlone) {
    SettingsFile file;
    ASSERT_TRUE(file.load(path));
    file.settings.desktop.closeToTray = true;
    ASSERT_TRUE(file.save()) << file.errorText;
    EXPECT_EQ(readFileBytes(path), "[desktop]\nclose_to_tray = true\n");
    SettingsFile again;
    ASSERT_TRUE(again.load(path)) << again.errorText;
    EXPECT_EQ(again.settings, file.settings);
}

// Another program may have written the file since it was read: only the lines of the
// settings changed here may change.
TEST_F(SettingsFileTest, ASaveChangesOnlyTheChangedLinesOfTheFileAsItIsNow) {
    writeFileBytes(path, "# mail\n[mail]\nport = 587 # submission\n");
    SettingsFile file;
    ASSERT_TRUE(file.load(path)) << file.errorText;
    writeFileBytes(path,
                   "# mail\n[mail]\nport = 587 # submission\nuser = \"ops\"\n\n[[mutes]]\nhost = \"db\"\n");
    file.settings.mail.port = 465;
    file.settings.mail.security = MailSecurity::Tls;
    file.settings.desktop.tray = false;
    ASSERT_TRUE(file.save()) << file.errorText;
    EXPECT_EQ(readFileBytes(path),
              "# mail\n[mail]\nport = 465 # submission\nuser = \"ops\"\nsecurity = \"tls\"\n\n"
              "[[mutes]]\nhost = \"db\"\n\n[desktop]\ntray = false\n");
}

TEST_F(SettingsFileTest, BadFilesNameTheFileAndTheLine) {
    const std::pair<const char*, std::string> cases[] = {
        {"[mail]\nport = 587\nuser = \n", " line 3: user: the value is not valid TOML"},
        {"[mail]\n\nport = 70000\n", " line 3: port must be a whole number from 1 to 65535"},
        {"[mail]\nsecurity = \"ssl\"\n", " line 2: security must be \"none\", \"starttls\" or \"tls\""},
        {"mail = 1\n", " line 1: [mail] must be a table"},
        {"[mail]\nverify_certificate = \"yes\"\n", " line 2: verify_certificate must be true or false"},
        {"[monitor]\nchecks_at_once = 2.5\n", " line 2: checks_at_once must be a whole number"},
        {"[metrics]\nlisten = \"localhost:9469\"\n", " line 2: listen must be an address and a port"},
        {"[monitor]\nflap_start = 101\n", " line 2: flap_start must be a whole number from 0 to 100"},
        {"[monitor]\nmutes = [{ host = \"gw\", until = 2026-12-09T21:00:00 }]\n",
         " line 2: mutes must be a list"},
    };
    for (const auto& [text, error] : cases) {
        writeFileBytes(path, text);
        SettingsFile file;
        EXPECT_FALSE(file.load(path)) << text;
        EXPECT_TRUE(file.errorText.starts_with(path + error)) << file.errorText;
        EXPECT_EQ(file.settings, Settings{});
    }
}

TEST_F(SettingsFileTest, ChecksAtOnceOutOfRangeIsTheNearestUsableNumber) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"0", 1}, {"-3", 1}, {"64", 64}, {"257", 256}, {"99999999999", 256}};
    for (const auto& [value, expected] : cases) {
        writeFileBytes(path, std::string("[monitor]\nchecks_at_once = ") + value + "\n");
        SettingsFile file;
        ASSERT_TRUE(file.load(path)) << file.errorText;
        EXPECT_EQ(file.settings.monitor.checksAtOnce, expected) << value;
    }
    SettingsFile file;
    ASSERT_TRUE(file.load(dir.file("new.toml")));
    file.settings.monitor.checksAtOnce = 16;
    ASSERT_TRUE(file.save());
    EXPECT_EQ(readFileBytes(file.fileName), "[monitor]\nchecks_at_once = 16\n");
}

// The parser's own error text quotes the value it could not read.
TEST_F(SettingsFileTest, AValueThatIsNotTomlIsNeverShownInTheError) {
    writeFileBytes(path, "[mail]\npassword = 99999999999999999999999\n");
    SettingsFile file;
    ASSERT_FALSE(file.load(path));
    EXPECT_EQ(file.errorText,
              path + " line 2: password: the value is not valid TOML (a text goes in double quotes)");
}

// Opening a FIFO for reading waits for a writer, which may never come.
TEST_F(SettingsFileTest, AFifoInPlaceOfAnyOfTheFilesIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const std::function<bool()> loads[] = {
        [&] { return SettingsFile().load(path); },
        [&] { return ServerCfg().load(path); },
        [&] { return ServerDoc().load(path); },
    };
    for (const auto& load : loads) {
        std::future<bool> loaded = std::async(std::launch::async, load);
        if (loaded.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the read waits on the FIFO";
            // A writer's open releases the reader.
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_FALSE(loaded.get());
    }
}

// A file that does not read as TOML cannot take the changed lines: it stays as its owner left
// it, to be fixed.
TEST_F(SettingsFileTest, AFileThatCouldNotBeReadIsNeverOverwritten) {
    const std::string text = "future = 3\n[mail]\nport = 587\nuser = \n";
    writeFileBytes(path, text);
    SettingsFile file;
    ASSERT_FALSE(file.load(path));
    file.settings.mail.password = "s3cret";
    EXPECT_FALSE(file.save());
    EXPECT_NE(file.errorText.find(path), std::string::npos) << file.errorText;
    EXPECT_EQ(readFileBytes(path), text);
}

// Arrays of tables survive a save of other keys; a bad entry is left out and named by its
// line and key, stays in the file through the window's edits, and the others are written back.
TEST_F(SettingsFileTest, ChannelsAreReadOneByOneAndWrittenBackAsAGroup) {
    const std::string bad = "[[channels]]\nname = \"pager\"\nkind = \"gotify\"\nurl = \"http://g\"\ntoken = \"a\"\npriority = 11\n";
    writeFileBytes(path,
                   "[[channels]]\n"
                   "name = \"phone\"\n"
                   "kind = \"telegram\"\n"
                   "token_command = \"secret-tool lookup tg bot\"\n"
                   "chat_id = -1001\n"
                   "hosts = [\"web-*\", \"db?\"]\n"
                   "remind_every_minutes = 30\n"
                   "seen_by = \"ops\"\n"
                   "\n" +
                       bad +
                       "\n[[channels]]\n"
                       "name = \"hook\"\n"
                       "kind = \"webhook\"\n"
                       "url = \"https://hooks.example/x\"\n"
                       "headers = { \"X-Team\" = \"ops\" }\n"
                       "[desktop]\n"
                       "tray = false\n");
    SettingsFile file;
    ASSERT_TRUE(file.load(path)) << file.errorText;
    ASSERT_EQ(file.settings.channels.size(), 2U);
    const ChannelSettings& phone = file.settings.channels[0];
    EXPECT_EQ(phone.kind, ChannelKind::Telegram);
    EXPECT_EQ(phone.chatId, "-1001");
    EXPECT_EQ(phone.hosts, (std::vector<std::string>{"web-*", "db?"}));
    EXPECT_EQ(phone.remindEveryMinutes, 30);
    EXPECT_EQ(file.settings.channels[1].headers, (std::vector<std::pair<std::string, std::string>>{{"X-Team", "ops"}}));
    ASSERT_EQ(file.channelProblems.size(), 1U);
    EXPECT_EQ(file.channelProblems[0].name, "pager");
    EXPECT_EQ(file.channelProblems[0].text,
              path + " line 15: [[channels]] \"pager\": priority must be a whole number from 0 to 10");

    file.settings.desktop.closeToTray = true;
    ASSERT_TRUE(file.save()) << file.errorText;
    SettingsFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.settings, file.settings);

    file.settings.channels.erase(file.settings.channels.begin());
    file.settings.channels.push_back(ChannelSettings{.name = "chat", .kind = ChannelKind::Slack, .url = "https://s/x"});
    ASSERT_TRUE(file.save()) << file.errorText;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.settings, file.settings);
    EXPECT_EQ(again.channelProblems.size(), 1U);
    const std::string text = readFileBytes(path);
    EXPECT_NE(text.find(bad), std::string::npos) << text;
    EXPECT_EQ(text.find("phone"), std::string::npos) << text;
}

// Mutes are one line the daemon and the window rewrite; the lines around it stay as they are.
TEST_F(SettingsFileTest, MutesAreWrittenOnOneLineInUtcAndReadBack) {
    writeFileBytes(path, "[monitor]\nchecks_at_once = 4 # enough\n");
    SettingsFile file;
    ASSERT_TRUE(file.load(path)) << file.errorText;
    file.settings.monitor.mutes = {{"gw \"east\"", 1796850000}, {"db", 0}};
    ASSERT_TRUE(file.save()) << file.errorText;
    EXPECT_EQ(readFileBytes(path),
              "[monitor]\nchecks_at_once = 4 # enough\n"
              "mutes = [{ host = \"gw \\\"east\\\"\", until = 2026-12-09T21:00:00Z }, { host = \"db\" }]\n");
    SettingsFile again;
    ASSERT_TRUE(again.load(path)) << again.errorText;
    EXPECT_EQ(again.settings.monitor.mutes, file.settings.monitor.mutes);

    writeFileBytes(path, "[monitor]\nmutes = [{ host = \"gw\", until = 2026-12-09T22:00:00+01:00 }]\n");
    ASSERT_TRUE(again.load(path)) << again.errorText;
    EXPECT_EQ(again.settings.monitor.mutes, (HostMutes{{"gw", 1796850000}}));
    again.settings.monitor.mutes.clear();
    ASSERT_TRUE(again.save()) << again.errorText;
    EXPECT_EQ(readFileBytes(path), "[monitor]\nmutes = []\n");
}

}  // namespace
