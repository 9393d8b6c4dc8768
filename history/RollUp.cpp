#include "history/RollUp.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace {

// Series per transaction: a roll-up never holds the write lock for long.
constexpr std::size_t kSeriesPerStep = 32;

std::int64_t floorTo(std::int64_t t, std::int64_t size) {
    const std::int64_t q = t / size;
    return (t % size < 0 ? q - 1 : q) * size;
}

void bindOptional(Statement& s, int i, const std::optional<double>& v) {
    if (v) {
        s.bind(i, *v);
    } else {
        s.bindNull(i);
    }
}

// One row of a tier: (series, t, good, bad, lo, mean, hi, p95).
void writeAggregate(Statement& write, std::int64_t series, const Aggregate& a) {
    write.bind(1, series).bind(2, a.start).bind(3, a.good).bind(4, a.bad);
    bindOptional(write, 5, a.min);
    bindOptional(write, 6, a.mean);
    bindOptional(write, 7, a.max);
    bindOptional(write, 8, a.p95);
    write.run();
}

std::optional<double> optionalReal(const Statement& s, int col) {
    return s.isNull(col) ? std::nullopt : std::optional<double>(s.real(col));
}

template <typename F>
void inSteps(Database& db, const std::vector<std::int64_t>& series, F&& each) {
    for (std::size_t i = 0; i < series.size(); i += kSeriesPerStep) {
        Transaction t(db);
        for (std::size_t j = i; j < std::min(series.size(), i + kSeriesPerStep); ++j) {
            each(series[j]);
        }
        t.commit();
    }
}

}  // namespace

Aggregate summarize(std::int64_t start, std::int64_t bad, std::vector<double> goodDurations) {
    Aggregate a;
    a.start = start;
    a.bad = bad;
    a.good = static_cast<std::int64_t>(goodDurations.size());
    if (goodDurations.empty()) {
        return a;
    }
    std::sort(goodDurations.begin(), goodDurations.end());
    a.min = goodDurations.front();
    a.max = goodDurations.back();
    a.mean = std::accumulate(goodDurations.begin(), goodDurations.end(), 0.0) / static_cast<double>(a.good);
    // Nearest rank.
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(a.good)));
    a.p95 = goodDurations[std::max<std::size_t>(rank, 1) - 1];
    return a;
}

Aggregate combine(std::int64_t start, const std::vector<Aggregate>& parts) {
    Aggregate a;
    a.start = start;
    double sum = 0;
    std::vector<std::pair<double, std::int64_t>> p95s;
    for (const Aggregate& p : parts) {
        a.good += p.good;
        a.bad += p.bad;
        if (!p.mean || p.good == 0) {
            continue;
        }
        a.min = a.min ? std::min(*a.min, *p.min) : *p.min;
        a.max = a.max ? std::max(*a.max, *p.max) : *p.max;
        sum += *p.mean * static_cast<double>(p.good);
        p95s.emplace_back(*p.p95, p.good);
    }
    if (p95s.empty()) {
        return a;
    }
    std::int64_t timed = 0;
    for (const auto& [v, n] : p95s) {
        timed += n;
    }
    a.mean = sum / static_cast<double>(timed);
    std::sort(p95s.begin(), p95s.end());
    const double wanted = 0.95 * static_cast<double>(timed);
    std::int64_t seen = 0;
    for (const auto& [v, n] : p95s) {
        seen += n;
        if (static_cast<double>(seen) >= wanted) {
            a.p95 = v;
            break;
        }
    }
    return a;
}

void RollUp::touched(std::int64_t t) {
    dirtyFrom_ = dirtyFrom_ ? std::min(*dirtyFrom_, t) : t;
}

std::optional<RollUp::Range> RollUp::pending(const char* mark, std::int64_t size, std::int64_t now,
                                             std::optional<std::int64_t> dirtyFrom) {
    Statement s = db_.prepare("SELECT value FROM meta WHERE key=?");
    s.bind(1, std::string_view(mark));
    std::optional<std::int64_t> done;
    if (s.step()) {
        done = s.integer(0);
        s.reset();
    }
    std::optional<std::int64_t> from = done;
    if (dirtyFrom) {
        from = from ? std::min(*from, *dirtyFrom) : *dirtyFrom;
    }
    if (!from) {
        return std::nullopt;
    }
    const Range r{floorTo(*from, size), floorTo(now, size)};
    if (r.from >= r.to) {
        return std::nullopt;
    }
    return r;
}

void RollUp::setMark(const char* mark, std::int64_t value) {
    Statement s = db_.prepare(
        "INSERT OR REPLACE INTO meta(key, value) VALUES(?, max(?, coalesce((SELECT value "
        "FROM meta WHERE key=?), 0)))");
    s.bind(1, std::string_view(mark)).bind(2, value).bind(3, std::string_view(mark)).run();
}

void RollUp::rollMinutes(const std::vector<std::int64_t>& series, Range r) {
    Statement read = db_.prepare("SELECT t, ok, ms FROM checks WHERE series=? AND t>=? AND t<? ORDER BY t");
    Statement write = db_.prepare("INSERT OR REPLACE INTO minutes VALUES(?,?,?,?,?,?,?,?)");
    inSteps(db_, series, [&](std::int64_t id) {
        std::int64_t bucket = 0;
        std::int64_t bad = 0;
        std::vector<double> good;
        bool any = false;
        auto flush = [&] {
            if (!any) {
                return;
            }
            writeAggregate(write, id, summarize(bucket, bad, std::move(good)));
            good.clear();
            bad = 0;
            any = false;
        };
        read.bind(1, id).bind(2, r.from).bind(3, r.to);
        while (read.step()) {
            const std::int64_t b = floorTo(read.integer(0), kMinuteMs);
            if (any && b != bucket) {
                flush();
            }
            bucket = b;
            any = true;
            if (read.integer(1) != 0) {
                good.push_back(static_cast<double>(read.integer(2)));
            } else {
                ++bad;
            }
        }
        flush();
    });
}

void RollUp::rollTier(const std::vector<std::int64_t>& series, const char* from, const char* to,
                      std::int64_t size, Range r) {
    Statement read = db_.prepare(std::string("SELECT t, good, bad, lo, mean, hi, p95 FROM ") + from +
                                 " WHERE series=? AND t>=? AND t<? ORDER BY t");
    Statement write = db_.prepare(std::string("INSERT OR REPLACE INTO ") + to + " VALUES(?,?,?,?,?,?,?,?)");
    inSteps(db_, series, [&](std::int64_t id) {
        std::vector<Aggregate> parts;
        std::int64_t bucket = 0;
        auto flush = [&] {
            if (parts.empty()) {
                return;
            }
            writeAggregate(write, id, combine(bucket, parts));
            parts.clear();
        };
        read.bind(1, id).bind(2, r.from).bind(3, r.to);
        while (read.step()) {
            const std::int64_t b = floorTo(read.integer(0), size);
            if (!parts.empty() && b != bucket) {
                flush();
            }
            bucket = b;
            Aggregate p;
            p.good = read.integer(1);
            p.bad = read.integer(2);
            p.min = optionalReal(read, 3);
            p.mean = optionalReal(read, 4);
            p.max = optionalReal(read, 5);
            p.p95 = optionalReal(read, 6);
            parts.push_back(p);
        }
        flush();
    });
}

void RollUp::prune(const std::vector<std::int64_t>& series, std::int64_t now) {
    struct Cut {
        const char* table;
        std::int32_t days;
    };
    for (const Cut c : {Cut{"checks", keep_.checksDays}, Cut{"minutes", keep_.minutesDays},
                        Cut{"hours", keep_.hoursDays}}) {
        Statement del = db_.prepare(std::string("DELETE FROM ") + c.table + " WHERE series=? AND t<?");
        const std::int64_t before = now - std::int64_t{c.days} * kDayMs;
        inSteps(db_, series, [&](std::int64_t id) { del.bind(1, id).bind(2, before).run(); });
    }
}

void RollUp::run(std::int64_t now) {
    std::vector<std::int64_t> series;
    {
        Statement s = db_.prepare("SELECT id FROM series ORDER BY id");
        while (s.step()) {
            series.push_back(s.integer(0));
        }
    }
    // Checks older than they are kept are gone: their minutes stay as they were made.
    std::optional<std::int64_t> dirty = dirtyFrom_;
    if (dirty) {
        dirty = std::max(*dirty, now - std::int64_t{keep_.checksDays} * kDayMs);
    }
    const std::optional<Range> minutes = pending("minutes_done", kMinuteMs, now, dirty);
    dirtyFrom_.reset();
    if (minutes) {
        rollMinutes(series, *minutes);
        setMark("minutes_done", minutes->to);
    }
    // A later tier is due from the first of its buckets that the one below changed.
    const std::optional<Range> hours =
        pending("hours_done", kHourMs, floorTo(now, kMinuteMs),
                minutes ? std::optional<std::int64_t>(minutes->from) : std::nullopt);
    if (hours) {
        rollTier(series, "minutes", "hours", kHourMs, *hours);
        setMark("hours_done", hours->to);
    }
    const std::optional<Range> days =
        pending("days_done", kDayMs, floorTo(now, kHourMs),
                hours ? std::optional<std::int64_t>(hours->from) : std::nullopt);
    if (days) {
        rollTier(series, "hours", "days", kDayMs, *days);
        setMark("days_done", days->to);
    }
    prune(series, now);
}
