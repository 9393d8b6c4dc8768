// One channel's deliveries: its own queue and thread, so a slow or silent service holds no
// check and no other channel. Messages leave in the order they came; each gets up to three
// tries with growing pauses, and only its final outcome is logged and counted. While a host
// whose down was sent stays down, a reminder goes out every remind_every_minutes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "alerts/ChannelMessage.h"
#include "alerts/ChannelSender.h"
#include "alerts/EventLog.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/Vardo.h"

struct ChannelTiming {
    std::chrono::milliseconds timeout{10000};
    // The pause after the first failed try; each later one is twice the one before.
    std::chrono::milliseconds firstPause{2000};
};

class ChannelWorker {
  public:
    // Called on the worker's thread with the channel's name and whether the message went.
    using Outcome = std::function<void(const std::string& channel, bool sent)>;
    // Whether the host is still monitored and down, asked before each reminder.
    using StillDown = std::function<bool(const ServerItem& item)>;

    ChannelWorker(ChannelSettings settings, Clock& clock, EventLogger& log, Outcome outcome, StillDown stillDown,
                  ChannelTiming timing);
    // Drops what is left at once; finish() first to give it time.
    ~ChannelWorker();
    ChannelWorker(const ChannelWorker&) = delete;
    ChannelWorker& operator=(const ChannelWorker&) = delete;

    // The entry was edited: later messages and reminders go by the new settings.
    void update(ChannelSettings settings);
    // The entry is gone: no more reminders (what is queued still goes).
    void forgetHosts();

    void hostDown(const ServerItem& item, std::time_t now);
    // Sent when the host's down was sent, or when the host was down at all (a service host
    // reports up after every good check).
    void hostUp(const ServerItem& item, std::time_t now);
    // Looks at the reminders at once, not at the next second.
    void poke();

    // Takes no more messages and waits until deadline for the queue to empty; then ends the
    // message under way and logs each one dropped.
    void finish(std::chrono::steady_clock::time_point deadline);

  private:
    struct Pending {
        ChannelMessage message;
        std::string txn;
    };
    struct DownHost {
        ServerItem item;
        std::time_t since = 0;
        // The down, or the last reminder.
        std::time_t lastSent = 0;
    };

    void enqueue(ChannelMessage message);
    // Queues the reminders that are due; whether there were any. Called and returns locked.
    bool remind(std::unique_lock<std::mutex>& lock);
    void run();
    void deliver(const Pending& pending, const ChannelSettings& settings);
    void dropped();

    Clock& clock_;
    EventLogger& log_;
    Outcome outcome_;
    StillDown stillDown_;
    ChannelTiming timing_;
    ChannelSender sender_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    ChannelSettings settings_;
    std::deque<Pending> queue_;
    std::map<std::string, DownHost> down_;
    std::uint64_t sequence_ = 0;
    bool busy_ = false;
    bool closing_ = false;
    bool aborting_ = false;
    // Last: started when everything above is ready.
    std::thread thread_;
};
