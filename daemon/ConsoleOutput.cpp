#include "daemon/ConsoleOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "alerts/Templates.h"
#include "core/Utf8Text.h"

std::string oneLine(std::string_view text) {
    std::string line = asUtf8(cutAtNul(std::string(text)));
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            // A CR LF pair becomes one blank.
            const std::size_t n = line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n' ? 2 : 1;
            line.replace(i, n, " ");
        }
    }
    return line;
}

bool isJournalStream(int fd, const char* journalStream) {
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    struct stat st {};
    return journalStream != nullptr &&
           std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) == 2 &&
           ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

LineWriter::LineWriter(int fd) : fd_(fd), journal_(isJournalStream(fd, std::getenv("JOURNAL_STREAM"))) {}

void LineWriter::write(const std::string& line, Priority priority) {
    std::string marked;
    if (journal_ && priority != Priority::Info) {
        marked = "<" + std::to_string(static_cast<int>(priority)) + ">" + line;
    }
    const std::string& text = marked.empty() ? line : marked;
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nobody reads any more: the line is dropped, as the file log drops it
        }
        done += static_cast<std::size_t>(n);
    }
}

void ConsoleEventLog::logEvent(const std::string& text, std::time_t time) {
    const std::string_view event(text);
    // The reason belongs to the down event it follows.
    const bool down = event.starts_with("Server Down: ") || event.starts_with("Reason: ");
    const Priority priority = down                               ? Priority::Warning
                              : event.starts_with("Server Up: ") ? Priority::Notice
                                                                 : Priority::Info;
    out_.write(dateText(time) + ": " + oneLine(text) + "\n", priority);
}

void ConsoleAlerts::showMessageAsync(const std::string& text) {
    err_.write("Alert: " + oneLine(text) + "\n", Priority::Warning);
}

void ConsoleUser::say(const std::string& text, Priority priority) {
    err_.write("vardomond: " + oneLine(text) + "\n", priority);
}
