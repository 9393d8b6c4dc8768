// What the history holds: series, checks, aggregates, outages and monitored spans. Times
// are milliseconds since 1970-01-01 00:00:00 UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Which host a series belongs to: the document (its canonical path), and the host's name,
// type and address as the metrics label it; twin counts hosts that share all of these.
struct SeriesKey {
    std::string document;
    std::string name;
    std::string type;
    std::string address;
    std::int32_t twin = 1;

    bool operator==(const SeriesKey&) const = default;
};

// The tiers after the raw checks, each bucket as long as its name says.
enum class Tier { Checks, Minutes, Hours, Days };

struct Retention {
    std::int32_t checksDays = 7;
    std::int32_t minutesDays = 31;
    std::int32_t hoursDays = 400;
};

// One bucket of checks: its counts and what the good checks took. The durations are empty
// when no check in it was good.
struct Aggregate {
    std::int64_t start = 0;
    std::int64_t good = 0;
    std::int64_t bad = 0;
    std::optional<double> min;
    std::optional<double> mean;
    std::optional<double> max;
    std::optional<double> p95;
};

struct Outage {
    std::int64_t start = 0;
    std::optional<std::int64_t> end;  // none while it goes on
    std::string reason;
};

struct Span {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// The failure text kept when the probe could not say why.
const char* defaultFailureText(const std::string& type);
