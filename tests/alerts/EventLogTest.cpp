#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "alerts/EventLog.h"
#include "support/ActionFakes.h"
#include "support/TempDir.h"

namespace {

constexpr std::time_t kMarch = 983797329;  // 2001-03-05 14:02:09 in Central European time

class EventLog : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
        path = dir.file("vardo.log");
        setLog(true, path);
    }
    void setLog(bool on, const std::string& file) {
        cfg.update([&](ServerCfg& c) {
            c.doLog = on ? 1 : 0;
            c.logFile = file;
        });
    }

    TempDir dir;
    std::string path;
    LiveConfig cfg;
    Journal journal;
    FakeMessages messages{journal};
};

TEST_F(EventLog, LineBytesAndAppendOrder) {
    logEvent(cfg, "Server Down: Backup", kMarch);
    logEvent(cfg, "Server Up: Backup", kMarch);
    EXPECT_EQ(readFileBytes(path),
              "Mon Mar 05 14:02:09 2001: Server Down: Backup\r\n"
              "Mon Mar 05 14:02:09 2001: Server Up: Backup\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(EventLog, AnEventTextCannotForgeLinesAndAFifoNeverBlocks) {
    logEvent(cfg, "Server Down: Backup\r\nMon Mar 05 14:02:10 2001: Server Up: Backup", kMarch);
    EXPECT_EQ(
        readFileBytes(path),
        "Mon Mar 05 14:02:09 2001: Server Down: Backup  Mon Mar 05 14:02:10 2001: Server Up: Backup\r\n");

    // Nobody reads the FIFO: the test and the line fail instead of waiting for a reader.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    setLog(true, fifo);
    auto writer = std::async(std::launch::async, [&] {
        testOpenLog(cfg, messages);
        logEvent(cfg, "Server Down: Backup", kMarch);
    });
    const bool ended = writer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!ended) {
        // A reader lets a blocked writer through, so the test can end.
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        writer.wait();
        ::close(reader);
    }
    EXPECT_TRUE(ended);
}

TEST_F(EventLog, KeepsWhatOtherWritersAppend) {
    writeFileBytes(path, "older line\n");
    logEvent(cfg, "one", kMarch);
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "other\n", 6), 6);
        ::close(fd);
    }
    logEvent(cfg, "two", kMarch);
    EXPECT_EQ(readFileBytes(path),
              "older line\nMon Mar 05 14:02:09 2001: one\r\nother\n"
              "Mon Mar 05 14:02:09 2001: two\r\n");
}

TEST_F(EventLog, ADeletedFileIsCreatedAgainByTheNextEvent) {
    logEvent(cfg, "first", kMarch);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    logEvent(cfg, "second", kMarch);
    EXPECT_EQ(readFileBytes(path), "Mon Mar 05 14:02:09 2001: second\r\n");
}

TEST_F(EventLog, NothingIsWrittenWhileOffOrWithoutAName) {
    setLog(false, path);
    logEvent(cfg, "off", kMarch);
    EXPECT_FALSE(std::filesystem::exists(path));
    setLog(true, "");
    logEvent(cfg, "no name", kMarch);
    setLog(true, path);
    logEvent(cfg, "on again", kMarch);
    EXPECT_EQ(readFileBytes(path), "Mon Mar 05 14:02:09 2001: on again\r\n");
}

TEST_F(EventLog, AMissingFolderFailsTheTestWithAMessageAndEventsQuietly) {
    const std::string bad = dir.file("no/such/folder/vardo.log");
    setLog(true, bad);
    testOpenLog(cfg, messages);
    EXPECT_EQ(journal.entries(), std::vector<std::string>{"box Failed to open log file."});
    logEvent(cfg, "Server Down: Backup", kMarch);
    EXPECT_EQ(journal.entries().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    EXPECT_EQ(cfg.get().doLog, 1);
}

TEST_F(EventLog, TheTestCreatesTheFileAndWritesNothing) {
    testOpenLog(cfg, messages);
    EXPECT_TRUE(journal.entries().empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(readFileBytes(path), "");
}

// The monitor thread logs while the GUI thread tests the file and switches the name, and a
// second process-like writer appends to the same file: every line arrives whole.
TEST_F(EventLog, ConcurrentWritersNeverSplitALine) {
    constexpr int kLines = 300;
    std::thread monitor([&] {
        for (int i = 0; i < kLines; ++i) {
            logEvent(cfg, "monitor " + std::to_string(i), kMarch);
        }
    });
    std::thread other([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
        for (int i = 0; i < kLines; ++i) {
            const std::string line = "other " + std::to_string(i) + "\r\n";
            [[maybe_unused]] const ssize_t n = ::write(fd, line.data(), line.size());
        }
        ::close(fd);
    });
    for (int i = 0; i < 100; ++i) {
        testOpenLog(cfg, messages);
        cfg.update([&](ServerCfg& c) { c.logFile = path; });
    }
    monitor.join();
    other.join();
    EXPECT_TRUE(journal.entries().empty());

    const std::string bytes = readFileBytes(path);
    int monitorLines = 0;
    int otherLines = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = bytes.substr(start, end - start);
        if (line.starts_with("Mon Mar 05 14:02:09 2001: monitor ")) {
            EXPECT_EQ(line, "Mon Mar 05 14:02:09 2001: monitor " + std::to_string(monitorLines));
            ++monitorLines;
        } else {
            EXPECT_TRUE(line.starts_with("other ")) << line;
            ++otherLines;
        }
        start = end + 2;
    }
    EXPECT_EQ(monitorLines, kLines);
    EXPECT_EQ(otherLines, kLines);
}

}  // namespace
