#include "metrics/Exposition.h"

#include <cstdio>
#include <optional>

namespace {

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

constexpr Family kUp{
    "vardomon_host_up", "gauge",
    "1 while the host is up, 0 while it is down (more consecutive failures than it allows)."};
constexpr Family kStatus{"vardomon_host_status", "gauge",
                         "Result of the host's last check: 0 failure, 1 success, 2 checking."};
constexpr Family kGood{"vardomon_host_good_checks_total", "counter",
                       "Good checks of the host made by this process since it started."};
constexpr Family kBad{"vardomon_host_bad_checks_total", "counter",
                      "Bad checks of the host made by this process since it started."};
constexpr Family kDocGood{"vardomon_host_document_good_checks", "gauge",
                          "Good checks of the host in the document, as it was read and counted on."};
constexpr Family kDocBad{"vardomon_host_document_bad_checks", "gauge",
                         "Bad checks of the host in the document, as it was read and counted on."};
constexpr Family kFailures{"vardomon_host_consecutive_failures", "gauge",
                           "Failed checks of the host since its last good one."};
constexpr Family kDuration{"vardomon_host_last_check_duration_seconds", "gauge",
                           "How long the host's last check in this run took."};
constexpr Family kTime{"vardomon_host_last_check_timestamp_seconds", "gauge",
                       "When the host's last check in this run ended, in seconds since 1970."};
constexpr Family kExpiry{"vardomon_host_certificate_expiry_timestamp_seconds", "gauge",
                         "When the earliest of the certificates the host's server sent expires, in seconds "
                         "since 1970."};
constexpr Family kMuted{"vardomon_host_muted", "gauge",
                        "1 while the host's actions are muted: it is checked, but its alerts wait."};
constexpr Family kFlapping{"vardomon_host_flapping", "gauge",
                           "1 while the host changes state too often: its alerts wait until it is stable."};
constexpr Family kSuppressed{"vardomon_host_suppressed", "gauge",
                             "1 while the host is down and a host it depends on is down: no alert for it."};
constexpr Family kCycle{"vardomon_cycle_duration_seconds", "gauge",
                        "How long the last complete cycle over every host took."};
constexpr Family kRunning{"vardomon_monitor_running", "gauge", "1 while monitoring is on, else 0."};

void header(std::string& out, const Family& f) {
    out += "# HELP ";
    out += f.name;
    out += ' ';
    out += f.help;
    out += "\n# TYPE ";
    out += f.name;
    out += ' ';
    out += f.type;
    out += '\n';
}

void number(std::string& out, long long value) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%lld", value);
    out.append(buffer, static_cast<std::size_t>(n));
}

void seconds(std::string& out, long long ms) {
    char buffer[40];
    const int n = std::snprintf(buffer, sizeof buffer, "%lld.%03lld", ms / 1000, ms % 1000);
    out.append(buffer, static_cast<std::size_t>(n));
}

// A host's value of one family; nothing for no sample.
using Value = std::optional<long long> (*)(const HostNumbers&);

// How a value is written: a whole number, or milliseconds as seconds.
enum class Unit { Whole, Milliseconds };

void perHost(std::string& out, const Family& f, const std::vector<std::string>& sets,
             const std::vector<HostNumbers>& hosts, Value value, Unit unit = Unit::Whole) {
    header(out, f);
    for (std::size_t i = 0; i < hosts.size() && i < sets.size(); ++i) {
        const std::optional<long long> v = value(hosts[i]);
        if (!v) {
            continue;
        }
        out += f.name;
        out += sets[i];
        if (unit == Unit::Milliseconds) {
            seconds(out, *v);
        } else {
            number(out, *v);
        }
        out += '\n';
    }
}

// A host not checked yet in this run has no duration and no time: no sample rather than a
// made-up one.
std::optional<long long> ifKnown(long long value) {
    return value >= 0 ? std::optional<long long>(value) : std::nullopt;
}

}  // namespace

std::string renderExposition(const MetricsSnapshot& snapshot, bool monitorRunning) {
    static const std::vector<std::string> kNone;
    const std::vector<std::string>& sets = snapshot.labels ? snapshot.labels->sets : kNone;
    const std::vector<HostNumbers>& hosts = snapshot.hosts;

    std::string out;
    out.reserve(2048 + hosts.size() * 9 * (sets.empty() ? 0 : sets.front().size() + 48));
    perHost(out, kUp, sets, hosts,
            [](const HostNumbers& h) -> std::optional<long long> { return h.down ? 0 : 1; });
    perHost(out, kStatus, sets, hosts,
            [](const HostNumbers& h) -> std::optional<long long> { return h.status; });
    perHost(out, kGood, sets, hosts, [](const HostNumbers& h) -> std::optional<long long> {
        return static_cast<long long>(h.goodSeen);
    });
    perHost(out, kBad, sets, hosts, [](const HostNumbers& h) -> std::optional<long long> {
        return static_cast<long long>(h.badSeen);
    });
    perHost(out, kDocGood, sets, hosts,
            [](const HostNumbers& h) -> std::optional<long long> { return h.good; });
    perHost(out, kDocBad, sets, hosts,
            [](const HostNumbers& h) -> std::optional<long long> { return h.bad; });
    perHost(out, kFailures, sets, hosts,
            [](const HostNumbers& h) -> std::optional<long long> { return h.consecutiveFailures; });
    perHost(
        out, kDuration, sets, hosts, [](const HostNumbers& h) { return ifKnown(h.lastDurationMs); },
        Unit::Milliseconds);
    perHost(out, kTime, sets, hosts, [](const HostNumbers& h) { return ifKnown(h.lastCheckTime); });
    perHost(out, kExpiry, sets, hosts, [](const HostNumbers& h) { return ifKnown(h.certificateExpiry); });
    const auto quiet = [&](const Family& f, bool QuietState::*flag) {
        header(out, f);
        for (std::size_t i = 0; i < hosts.size() && i < sets.size(); ++i) {
            out += f.name;
            out += sets[i];
            out += i < snapshot.quiet.size() && snapshot.quiet[i].*flag ? "1\n" : "0\n";
        }
    };
    quiet(kMuted, &QuietState::muted);
    quiet(kFlapping, &QuietState::flapping);
    quiet(kSuppressed, &QuietState::suppressed);
    header(out, kCycle);
    if (snapshot.lastCycleMs >= 0) {
        out += kCycle.name;
        out += ' ';
        seconds(out, snapshot.lastCycleMs);
        out += '\n';
    }
    header(out, kRunning);
    out += kRunning.name;
    out += monitorRunning ? " 1\n" : " 0\n";
    return out;
}
