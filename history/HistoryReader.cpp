#include "history/HistoryReader.h"

#include <algorithm>
#include <cmath>

#include "history/RollUp.h"
#include "history/Schema.h"
#include "history/Sqlite.h"

namespace {

std::int64_t floorTo(std::int64_t t, std::int64_t size) {
    const std::int64_t q = t / size;
    return (t % size < 0 ? q - 1 : q) * size;
}

std::int64_t overlap(std::int64_t a0, std::int64_t a1, std::int64_t b0, std::int64_t b1) {
    return std::max<std::int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
}

// The weighted rank q (0..1) of values, each standing for count checks.
double weightedRank(std::vector<std::pair<double, std::int64_t>> values, double q) {
    std::sort(values.begin(), values.end());
    std::int64_t total = 0;
    for (const auto& v : values) {
        total += v.second;
    }
    const double wanted = std::max(1.0, std::ceil(q * static_cast<double>(total)));
    std::int64_t seen = 0;
    for (const auto& [value, count] : values) {
        seen += count;
        if (static_cast<double>(seen) >= wanted) {
            return value;
        }
    }
    return values.back().first;
}

}  // namespace

HistoryReader::HistoryReader(const std::string& path, Retention keep)
    : db_(openForReading(path)),
      keep_(keep),
      // A store no writer of this version has opened yet keeps no held time.
      hasQuiet_(db_->scalar("SELECT count(*) FROM sqlite_schema WHERE name='quiet'").value_or(0) != 0) {}

HistoryReader::~HistoryReader() = default;

std::optional<std::int64_t> HistoryReader::series(const SeriesKey& key) {
    return findSeries(*db_, key);
}

std::vector<Aggregate> HistoryReader::checks(std::int64_t series, std::int64_t from, std::int64_t to) {
    std::vector<Aggregate> out;
    Statement s = db_->prepare("SELECT t, ok, ms FROM checks WHERE series=? AND t>=? AND t<? ORDER BY t");
    s.bind(1, series).bind(2, from).bind(3, to);
    while (s.step()) {
        Aggregate a;
        a.start = s.integer(0);
        if (s.integer(1) != 0) {
            a.good = 1;
            const double ms = static_cast<double>(s.integer(2));
            a.min = a.mean = a.max = a.p95 = ms;
        } else {
            a.bad = 1;
        }
        out.push_back(a);
    }
    return out;
}

std::vector<Aggregate> HistoryReader::tier(const char* table, std::int64_t series, std::int64_t from,
                                           std::int64_t to) {
    std::vector<Aggregate> out;
    Statement s = db_->prepare(std::string("SELECT t, good, bad, lo, mean, hi, p95 FROM ") + table +
                               " WHERE series=? AND t>=? AND t<? ORDER BY t");
    s.bind(1, series).bind(2, from).bind(3, to);
    while (s.step()) {
        Aggregate a;
        a.start = s.integer(0);
        a.good = s.integer(1);
        a.bad = s.integer(2);
        if (!s.isNull(4)) {
            a.min = s.real(3);
            a.mean = s.real(4);
            a.max = s.real(5);
            a.p95 = s.real(6);
        }
        out.push_back(a);
    }
    return out;
}

std::vector<Aggregate> HistoryReader::covering(std::int64_t series, std::int64_t from, std::int64_t to) {
    // Where each tier's complete buckets begin, by what is kept of it.
    const std::int64_t rawFrom = floorTo(to - std::int64_t{keep_.checksDays} * kDayMs, kMinuteMs) + kMinuteMs;
    const std::int64_t minutesFrom =
        std::min(rawFrom, floorTo(to - std::int64_t{keep_.minutesDays} * kDayMs, kHourMs) + kHourMs);
    const std::int64_t hoursFrom =
        std::min(minutesFrom, floorTo(to - std::int64_t{keep_.hoursDays} * kDayMs, kDayMs) + kDayMs);
    std::vector<Aggregate> out;
    auto add = [&](std::vector<Aggregate> part) { out.insert(out.end(), part.begin(), part.end()); };
    if (from < hoursFrom) {
        add(tier("days", series, from, hoursFrom));
    }
    if (from < minutesFrom) {
        add(tier("hours", series, std::max(from, hoursFrom), minutesFrom));
    }
    if (from < rawFrom) {
        add(tier("minutes", series, std::max(from, minutesFrom), rawFrom));
    }
    add(checks(series, std::max(from, rawFrom), to));
    return out;
}

std::vector<Aggregate> HistoryReader::points(std::int64_t series, std::int64_t from, std::int64_t to) {
    const std::int64_t span = to - from;
    if (span <= 3 * kHourMs && from >= to - std::int64_t{keep_.checksDays} * kDayMs) {
        return checks(series, from, to);
    }
    if (span <= 2 * kDayMs && from >= to - std::int64_t{keep_.minutesDays} * kDayMs) {
        // The minute under way is not rolled up yet: its checks stand for it.
        std::vector<Aggregate> out = tier("minutes", series, from, floorTo(to, kMinuteMs));
        std::vector<Aggregate> recent = checks(series, std::max(from, floorTo(to, kMinuteMs)), to);
        out.insert(out.end(), recent.begin(), recent.end());
        return out;
    }
    const bool hoursCover = from >= to - std::int64_t{keep_.hoursDays} * kDayMs;
    std::vector<Aggregate> out = tier(hoursCover ? "hours" : "days", series, from, floorTo(to, kHourMs));
    std::vector<Aggregate> recent = tier("minutes", series, floorTo(to, kHourMs), floorTo(to, kMinuteMs));
    out.insert(out.end(), recent.begin(), recent.end());
    return out;
}

std::vector<Span> HistoryReader::monitored(std::int64_t series, std::int64_t from, std::int64_t to) {
    std::vector<Span> out;
    Statement s = db_->prepare(
        "SELECT max(spans.start, series.created), spans.end FROM spans JOIN series ON "
        "spans.document=series.document "
        "WHERE series.id=? AND spans.end>? AND spans.start<? ORDER BY spans.start");
    s.bind(1, series).bind(2, from).bind(3, to);
    while (s.step()) {
        const std::int64_t a = std::max(from, s.integer(0));
        const std::int64_t b = std::min(to, s.integer(1));
        if (b <= a) {
            continue;
        }
        // Spans of two programs monitoring one document may overlap: joined, they count once.
        if (!out.empty() && a <= out.back().end) {
            out.back().end = std::max(out.back().end, b);
        } else {
            out.push_back(Span{a, b});
        }
    }
    return out;
}

RangeSummary HistoryReader::summary(std::int64_t series, std::int64_t from, std::int64_t to) {
    RangeSummary r;
    std::vector<std::pair<double, std::int64_t>> means;
    std::vector<std::pair<double, std::int64_t>> p95s;
    double most = 0;
    for (const Aggregate& a : covering(series, from, to)) {
        r.checks += a.good + a.bad;
        r.failed += a.bad;
        if (a.mean && a.good > 0) {
            means.emplace_back(*a.mean, a.good);
            p95s.emplace_back(*a.p95, a.good);
            most = std::max(most, *a.max);
        }
    }
    if (!means.empty()) {
        r.latency = Latency{weightedRank(means, 0.5), weightedRank(p95s, 0.95), most};
    }
    const std::vector<Span> spans = monitored(series, from, to);
    r.outages = outagesIn(series, from, to, spans, r.downMs);
    r.mutedMs = quietMs(series, "muted", from, to, spans);
    r.flappingMs = quietMs(series, "flapping", from, to, spans);
    for (const Span& sp : spans) {
        r.monitoredMs += sp.end - sp.start;
    }
    if (r.monitoredMs > 0) {
        r.uptime =
            1.0 - static_cast<double>(std::min(r.downMs, r.monitoredMs)) / static_cast<double>(r.monitoredMs);
    }
    return r;
}

std::vector<Outage> HistoryReader::outagesIn(std::int64_t series, std::int64_t from, std::int64_t to,
                                             const std::vector<Span>& spans, std::int64_t& downMs) {
    std::vector<Outage> out;
    downMs = 0;
    Statement s = db_->prepare(
        "SELECT start, end, reason FROM outages WHERE series=? AND start<? AND "
        "coalesce(end, ?)>? ORDER BY start");
    s.bind(1, series).bind(2, to).bind(3, to).bind(4, from);
    while (s.step()) {
        Outage o;
        o.start = s.integer(0);
        if (!s.isNull(1)) {
            o.end = s.integer(1);
        }
        o.reason = s.text(2);
        const std::int64_t end = o.end.value_or(to);
        for (const Span& sp : spans) {
            downMs += overlap(std::max(o.start, from), std::min(end, to), sp.start, sp.end);
        }
        out.push_back(std::move(o));
    }
    return out;
}

std::int64_t HistoryReader::quietMs(std::int64_t series, const char* kind, std::int64_t from, std::int64_t to,
                                    const std::vector<Span>& spans) {
    if (!hasQuiet_) {
        return 0;
    }
    // A span a killed program left open ends, in effect, with the monitored time.
    Statement s = db_->prepare("SELECT start, coalesce(end, ?) FROM quiet WHERE series=? AND kind=? AND start<? "
                               "AND coalesce(end, ?)>?");
    s.bind(1, to).bind(2, series).bind(3, std::string_view(kind)).bind(4, to).bind(5, to).bind(6, from);
    std::int64_t ms = 0;
    while (s.step()) {
        for (const Span& sp : spans) {
            ms += overlap(std::max(s.integer(0), from), std::min(s.integer(1), to), sp.start, sp.end);
        }
    }
    return ms;
}

std::optional<double> HistoryReader::uptime(std::int64_t series, std::int64_t from, std::int64_t to) {
    const std::vector<Span> spans = monitored(series, from, to);
    std::int64_t monitoredMs = 0;
    for (const Span& sp : spans) {
        monitoredMs += sp.end - sp.start;
    }
    if (monitoredMs == 0) {
        return std::nullopt;
    }
    std::int64_t downMs = 0;
    outagesIn(series, from, to, spans, downMs);
    return 1.0 - static_cast<double>(std::min(downMs, monitoredMs)) / static_cast<double>(monitoredMs);
}

std::optional<Aggregate> HistoryReader::lastCheck(std::int64_t series) {
    Statement s = db_->prepare("SELECT t, ok, ms FROM checks WHERE series=? ORDER BY t DESC LIMIT 1");
    s.bind(1, series);
    if (!s.step()) {
        return std::nullopt;
    }
    Aggregate a;
    a.start = s.integer(0);
    a.good = s.integer(1);
    a.bad = 1 - a.good;
    a.mean = static_cast<double>(s.integer(2));
    s.reset();
    return a;
}
