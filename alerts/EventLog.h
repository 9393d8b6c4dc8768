// The event log: one line per event appended to a text file, written only while logging is
// switched on. The file is opened and closed for every line, so it is never held open and a
// deleted or moved file is simply created anew by the next event.
#pragma once

#include <ctime>
#include <string>

#include "core/LiveConfig.h"
#include "platform/MessageSink.h"

// Appends "<date text>: <text>" and CR LF when doLog is on and logFile is set; a CR or LF
// inside the text becomes a blank, so one event is always one line. A line that cannot be
// written at once (a FIFO without a reader) is dropped without a word. Safe from any thread.
void logEvent(const LiveConfig& cfg, std::string text, std::time_t time);

// Opens the log file the way logEvent does (creating it) and closes it at once; when that
// fails, says "Failed to open log file." through the sink. Writes nothing.
void testOpenLog(const LiveConfig& cfg, MessageSink& messages);

// Where the actions write their lines; the program's one writes the event log.
class EventLogger {
  public:
    virtual ~EventLogger() = default;
    virtual void logEvent(const std::string& text, std::time_t time) = 0;
};

class FileEventLogger final : public EventLogger {
  public:
    explicit FileEventLogger(const LiveConfig& cfg) : cfg_(cfg) {}
    void logEvent(const std::string& text, std::time_t time) override { ::logEvent(cfg_, text, time); }

  private:
    const LiveConfig& cfg_;
};

// The file log, and a copy of every line for a second logger (the daemon's standard output)
// that takes it whatever the log settings say.
class CopyingEventLogger final : public EventLogger {
  public:
    CopyingEventLogger(EventLogger& log, EventLogger* copy) : log_(log), copy_(copy) {}
    void logEvent(const std::string& text, std::time_t time) override {
        log_.logEvent(text, time);
        if (copy_ != nullptr) {
            copy_->logEvent(text, time);
        }
    }

  private:
    EventLogger& log_;
    EventLogger* copy_;
};
