// The one writer of a store: the monitor hands it results without waiting, a thread of its
// own writes them in batches (one transaction per 250 ms, or sooner when many wait) and
// rolls the tiers up between them. The queue is bounded: while the disk cannot take the
// results (full, locked, too slow) the oldest unwritten ones are dropped and counted, the
// writer says once that it paused and why, keeps trying, and says when it goes on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "history/HistoryTypes.h"

class Database;
class RollUp;
class Statement;

// What happened to one host in one check.
struct CheckEvent {
    enum class Change { None, WentDown, WentUp };
    // From intern(): a result carries no copy of its names.
    const SeriesKey* key = nullptr;
    std::int64_t at = 0;
    bool good = false;
    std::int64_t ms = 0;
    // Bad: why; empty: the check type's own text ("Connection Failed", ...).
    std::string reason;
    Change change = Change::None;
    // WentDown: when the failures that brought it down began, and the first one's text
    // (0 and empty: this check's).
    std::int64_t outageStart = 0;
    std::string outageReason;
};

class HistoryWriter {
  public:
    struct Options {
        std::string path;
        Retention keep;
        // The most results waiting to be written.
        std::size_t queueLimit = 200'000;
        std::chrono::milliseconds batchEvery{250};
        // How often the tiers are rolled up and pruned.
        std::chrono::milliseconds rollUpEvery{10'000};
        // How long after a failed write the next try comes.
        std::chrono::milliseconds retryEvery{1'000};
        // The calendar time in milliseconds; the system's when empty.
        std::function<std::int64_t()> now;
        // Told once when writing pauses and once when it goes on (on the writer's thread).
        std::function<void(const std::string&)> notice;
    };

    explicit HistoryWriter(Options options);
    // Writes what is queued, then stops.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Opens (or makes) the store and starts the thread. False when there is no store to
    // write; note() says why, or what was done to the file to get one.
    bool start();
    const std::string& note() const { return note_; }

    // The one copy of key that results name their series by; it lives as long as the writer.
    const SeriesKey* intern(const SeriesKey& key);

    // None of these waits for the disk.
    void record(CheckEvent event);
    // Monitoring of a document went on or off at the time given.
    void monitoring(const std::string& document, bool on, std::int64_t at);
    // A host was renamed or readdressed: its series takes the new name.
    void rename(const SeriesKey& from, const SeriesKey& to);

    // Waits until everything handed over so far is written, or limit has passed; whether it
    // was.
    bool flush(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Rolls up and prunes now instead of at the next turn (after what is queued).
    void rollUpNow();
    // How many results were dropped because the disk could not take them.
    std::uint64_t dropped() const { return dropped_; }
    bool paused() const { return paused_; }

  private:
    // The texts of a job, kept apart: most results have none, and the queue's jobs stay
    // small for the monitor thread that fills it.
    struct Rare {
        std::string reason;
        std::string outageReason;
        SeriesKey to;
        std::string document;
    };
    struct Job {
        enum class Kind { Check, MonitoringOn, MonitoringOff, Rename, RollUp } kind = Kind::Check;
        bool good = false;
        CheckEvent::Change change = CheckEvent::Change::None;
        const SeriesKey* key = nullptr;
        std::int64_t at = 0;
        std::int64_t ms = 0;
        std::int64_t outageStart = 0;
        std::unique_ptr<Rare> rare;

        const std::string& reason() const;
        const std::string& outageReason() const;
    };

    void enqueue(Job job);
    void loop();
    void writeBatch(const std::vector<Job>& batch);
    // With mutex_ held: the oldest jobs go, counted, until the queue is within its bound.
    void trimLocked();
    void writeCheck(const Job& e);
    std::int64_t seriesId(const SeriesKey* key, std::int64_t at);
    std::int64_t nowMs() const;
    void say(const std::string& text);

    Options o_;
    std::string note_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<RollUp> rollUp_;
    // Made once: one is run for every check.
    std::unique_ptr<Statement> insertCheck_;
    // The series id of each interned key that has been written.
    std::unordered_map<const SeriesKey*, std::int64_t> ids_;
    // The last time written per series, so two checks of one second keep their order.
    std::map<std::int64_t, std::int64_t> lastAt_;
    // The open monitored span of each document.
    std::map<std::string, std::int64_t> openSpans_;

    std::mutex internMutex_;
    std::map<std::string, std::unique_ptr<const SeriesKey>> interned_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::vector<Job> queue_;
    // Jobs handed over, and those written or dropped since.
    std::uint64_t handed_ = 0;
    std::uint64_t settled_ = 0;
    bool stop_ = false;
    bool urgent_ = false;
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<bool> paused_{false};
    std::thread thread_;
};
