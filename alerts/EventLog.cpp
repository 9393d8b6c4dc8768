#include "alerts/EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "alerts/Templates.h"

namespace {

// Keeps a test of the file on the GUI thread and a line from the monitor thread from
// interleaving their opens and closes; other processes are kept apart by O_APPEND and one
// write per line.
std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

class LogFile {
  public:
    // Without blocking: a FIFO nobody reads would otherwise hold the caller (the window or
    // the monitor) until a reader comes; it fails instead, and a full one drops the line.
    explicit LogFile(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666)) {}
    ~LogFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void writeAll(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;  // disk full or the like: the rest of the line is dropped
            }
            done += static_cast<std::size_t>(n);
        }
    }

  private:
    int fd_;
};

struct LogSettings {
    bool on;
    std::string file;
};

LogSettings settings(const LiveConfig& cfg) {
    const ServerCfg c = cfg.get();
    return {c.doLog != 0, c.logFile};
}

}  // namespace

void logEvent(const LiveConfig& cfg, std::string text, std::time_t time) {
    const LogSettings s = settings(cfg);
    if (!s.on || s.file.empty()) {
        return;
    }
    // A line break inside the text (a host name from a document) would start a line that
    // looks like an event of its own.
    text = cutAtNul(text);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    // The whole line goes out in one write so that lines of other writers appending to the
    // same file never land inside it.
    const std::string line = dateText(time) + ": " + text + "\r\n";
    std::lock_guard lock(logMutex());
    LogFile file(s.file);
    if (file.isOpen()) {
        file.writeAll(line);
    }
}

void testOpenLog(const LiveConfig& cfg, MessageSink& messages) {
    const std::string path = cfg.get().logFile;
    bool opened = false;
    {
        std::lock_guard lock(logMutex());
        LogFile file(path);
        opened = file.isOpen();
    }
    if (!opened) {
        messages.showMessageAsync("Failed to open log file.");
    }
}
