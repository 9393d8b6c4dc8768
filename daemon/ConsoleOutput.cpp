#include "daemon/ConsoleOutput.h"

#include <unistd.h>

#include <cerrno>

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

void LineWriter::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
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
    out_.write(dateText(time) + ": " + oneLine(text) + "\n");
}

void ConsoleAlerts::showMessageAsync(const std::string& text) {
    err_.write("Alert: " + oneLine(text) + "\n");
}

void ConsoleUser::say(const std::string& text) {
    err_.write("vardomond: " + oneLine(text) + "\n");
}
