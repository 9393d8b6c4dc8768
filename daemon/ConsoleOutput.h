// What the daemon writes instead of showing it: events on standard output (one line each,
// the log file's form with an LF line end), message box actions and its own messages on
// standard error. Every line is written at once in one piece, UTF-8, with the line breaks
// inside a text turned into blanks so that one message stays one line in the journal.
// When the descriptor is the journal's stream, a line that matters more or less than an
// ordinary one begins with its priority as the journal reads it ("<4>"), so that
// "journalctl -p warning" finds the downs, the alerts and the failed saves.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "alerts/EventLog.h"
#include "app/UserInteraction.h"
#include "platform/MessageSink.h"

// The text as one line of UTF-8.
std::string oneLine(std::string_view text);

// syslog's levels, as the journal reads them from the start of a line.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Whether fd is the stream that systemd connected to the journal: JOURNAL_STREAM names its
// device and inode ("8:12345").
bool isJournalStream(int fd, const char* journalStream);

// Writes whole lines to a descriptor; lines from several threads never mix.
class LineWriter {
  public:
    explicit LineWriter(int fd);
    // A terminal, a file or a pipe gets the line as it is; only the journal the priority.
    void write(const std::string& line, Priority priority = Priority::Info);

  private:
    int fd_;
    bool journal_;
    std::mutex mutex_;
};

class ConsoleEventLog final : public EventLogger {
  public:
    explicit ConsoleEventLog(LineWriter& out) : out_(out) {}
    void logEvent(const std::string& text, std::time_t time) override;

  private:
    LineWriter& out_;
};

// A message box action: "Alert: " and its text.
class ConsoleAlerts final : public MessageSink {
  public:
    explicit ConsoleAlerts(LineWriter& err) : err_(err) {}
    void showMessageAsync(const std::string& text) override;

  private:
    LineWriter& err_;
};

// The daemon's own messages ("vardomond: " and the text). Nobody is there to answer: every
// question gets No, no file is chosen and no host edited.
class ConsoleUser final : public UserQuestions, public FileChooser, public HostEditor {
  public:
    explicit ConsoleUser(LineWriter& err) : err_(err) {}
    void say(const std::string& text, Priority priority = Priority::Info);

    bool askYesNo(const std::string&) override { return false; }
    void showMessage(const std::string& text) override { say(text); }
    std::optional<std::string> chooseOpenPath() override { return std::nullopt; }
    std::optional<std::string> chooseSavePath() override { return std::nullopt; }
    bool editHost(ServerItem&) override { return false; }

  private:
    LineWriter& err_;
};
