// The channels of settings.toml as the alerts use them: every down and up of a host goes to
// each channel whose hosts take its name, each on the channel's own worker. The entries are
// read again at every event, so an edit in the window counts from the next one on.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "alerts/ChannelWorker.h"
#include "alerts/EventLog.h"
#include "core/Clock.h"
#include "core/LiveConfig.h"
#include "core/Vardo.h"

class NotificationChannels {
  public:
    // How long the close waits for queued messages.
    static constexpr std::chrono::milliseconds kCloseGrace{2000};

    NotificationChannels(const LiveConfig& cfg, Clock& clock, EventLogger& log, ChannelTiming timing = {});
    // Closes without waiting, when close() has not run.
    ~NotificationChannels();
    NotificationChannels(const NotificationChannels&) = delete;
    NotificationChannels& operator=(const NotificationChannels&) = delete;

    void hostDown(const ServerItem& item, std::time_t now);
    void hostUp(const ServerItem& item, std::time_t now);
    // Looks at every channel's reminders at once.
    void poke();

    // Where each final outcome goes as well (the metrics); called on the workers' threads.
    void setOutcomeObserver(ChannelWorker::Outcome observer);
    // Asked before each reminder: a host that was removed, or is no longer checked, gets none.
    // Called on the workers' threads; set before the first event.
    void setStillDown(ChannelWorker::StillDown stillDown) { stillDown_ = std::move(stillDown); }

    // Takes no more messages, waits at most grace for those queued, then drops the rest,
    // each with a log line.
    void close(std::chrono::milliseconds grace = kCloseGrace);

  private:
    // The workers of the channels that take the host, made or updated from the live entries;
    // under mutex_.
    std::vector<ChannelWorker*> workersFor(const ServerItem& item);
    void report(const std::string& channel, bool sent);

    const LiveConfig& cfg_;
    Clock& clock_;
    EventLogger& log_;
    ChannelTiming timing_;
    ChannelWorker::StillDown stillDown_;

    std::mutex observerMutex_;
    ChannelWorker::Outcome observer_;

    std::mutex mutex_;
    bool closed_ = false;
    std::map<std::string, std::unique_ptr<ChannelWorker>> workers_;
};
