// The tiers above the raw checks: complete minutes are summed up from the checks, hours from
// the minutes and days from the hours; each tier is pruned once it is older than it is kept.
// Every bucket is computed again whole from the tier below, so doing it twice, or two
// programs doing it at once, gives the same rows; a check written late (another program, a
// clock that stepped back) only makes its buckets be computed again.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "history/HistoryTypes.h"
#include "history/Sqlite.h"

inline constexpr std::int64_t kMinuteMs = 60'000;
inline constexpr std::int64_t kHourMs = 3'600'000;
inline constexpr std::int64_t kDayMs = 86'400'000;

// One bucket from the checks in it: counts, and what the good ones took.
Aggregate summarize(std::int64_t start, std::int64_t bad, std::vector<double> goodDurations);
// One bucket from smaller ones: counts added, extremes kept, the mean weighted by the good
// checks, and the 95th percentile approximated from the parts' own.
Aggregate combine(std::int64_t start, const std::vector<Aggregate>& parts);

class RollUp {
  public:
    RollUp(Database& db, Retention keep) : db_(db), keep_(keep) {}

    // A check at t was written.
    void touched(std::int64_t t);
    // Rolls up every complete bucket before now and prunes, each step in transactions of a
    // few series. Throws SqliteError as the database does.
    void run(std::int64_t now);

  private:
    struct Range {
        std::int64_t from;
        std::int64_t to;
    };
    std::optional<Range> pending(const char* mark, std::int64_t size, std::int64_t now,
                                 std::optional<std::int64_t> dirtyFrom);
    void rollMinutes(const std::vector<std::int64_t>& series, Range r);
    void rollTier(const std::vector<std::int64_t>& series, const char* from, const char* to,
                  std::int64_t size, Range r);
    void prune(const std::vector<std::int64_t>& series, std::int64_t now);
    void setMark(const char* mark, std::int64_t value);

    Database& db_;
    Retention keep_;
    std::optional<std::int64_t> dirtyFrom_;
};
