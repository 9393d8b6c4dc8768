// Reads a store while its writers go on: the window, the tooltips and the report each open
// one of their own. A range is read from the finest tier that still covers each part of it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryTypes.h"

class Database;

struct Latency {
    double p50 = 0;
    double p95 = 0;
    double max = 0;
};

struct RangeSummary {
    std::int64_t checks = 0;
    std::int64_t failed = 0;
    // Of the monitored time in the range; none when none of it was monitored.
    std::optional<double> uptime;
    std::int64_t monitoredMs = 0;
    std::int64_t downMs = 0;
    // Every outage that overlaps the range, oldest first.
    std::vector<Outage> outages;
    // Of the good checks; none when there were none.
    std::optional<Latency> latency;
    // The monitored time the host's actions were held by a mute or by its flapping; it
    // counts for the uptime like any other.
    std::int64_t mutedMs = 0;
    std::int64_t flappingMs = 0;
};

class HistoryReader {
  public:
    // Throws SqliteError when the file cannot be read as a store.
    HistoryReader(const std::string& path, Retention keep);
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    std::optional<std::int64_t> series(const SeriesKey& key);
    // The range [from, to), to being now.
    RangeSummary summary(std::int64_t series, std::int64_t from, std::int64_t to);
    // The share of the monitored time in [from, to) the host was not down; none when none
    // of it was monitored. Reads only the outages and the monitored spans.
    std::optional<double> uptime(std::int64_t series, std::int64_t from, std::int64_t to);
    // The buckets of a chart over [from, to): single checks over a few hours, minutes over
    // two days, hours up to their keeping time, days beyond.
    std::vector<Aggregate> points(std::int64_t series, std::int64_t from, std::int64_t to);
    // The monitored time of the series's document within [from, to).
    std::vector<Span> monitored(std::int64_t series, std::int64_t from, std::int64_t to);
    // The last check's time and duration and whether it was good.
    std::optional<Aggregate> lastCheck(std::int64_t series);

  private:
    // The outages that overlap the range, and how much of the monitored time they took.
    std::vector<Outage> outagesIn(std::int64_t series, std::int64_t from, std::int64_t to,
                                  const std::vector<Span>& spans, std::int64_t& downMs);
    // How much of the monitored time the series spent in quiet spans of that kind.
    std::int64_t quietMs(std::int64_t series, const char* kind, std::int64_t from, std::int64_t to,
                         const std::vector<Span>& spans);
    std::vector<Aggregate> tier(const char* table, std::int64_t series, std::int64_t from, std::int64_t to);
    std::vector<Aggregate> checks(std::int64_t series, std::int64_t from, std::int64_t to);
    // Every part of the range from the finest tier that covers it, now being to.
    std::vector<Aggregate> covering(std::int64_t series, std::int64_t from, std::int64_t to);

    std::unique_ptr<Database> db_;
    Retention keep_;
    bool hasQuiet_;
};
