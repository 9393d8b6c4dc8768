#include "daemon/ReportCommand.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "alerts/Templates.h"
#include "core/Utf8Text.h"
#include "history/HistoryReader.h"
#include "history/SeriesNames.h"
#include "history/Sqlite.h"
#include "platform/ConfigLocation.h"
#include "storage/SettingsFile.h"

namespace {

struct HostReport {
    SeriesKey key;
    RangeSummary summary;
};

// A history time (milliseconds) as the report writes it.
std::string stamp(std::int64_t ms) {
    return utcTimestamp(static_cast<std::time_t>(ms / 1000));
}

std::string number(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string csvText(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) {
        return s;
    }
    std::string out = "\"";
    for (const char c : s) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::int64_t durationS(const Outage& o, std::int64_t now) {
    return (o.end.value_or(now) - o.start) / 1000;
}

void printJson(const std::vector<HostReport>& hosts, std::int64_t now, std::ostream& out) {
    out << "[";
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const HostReport& h = hosts[i];
        const RangeSummary& s = h.summary;
        out << (i ? ",\n " : "\n ") << "{\"name\": " << quotedText(h.key.name)
            << ", \"address\": " << quotedText(h.key.address) << ", \"type\": " << quotedText(h.key.type)
            << ", \"uptime_ratio\": " << (s.uptime ? number(*s.uptime, 6) : "null")
            << ", \"checks\": " << s.checks << ", \"failed_checks\": " << s.failed << ", \"outages\": [";
        for (std::size_t j = 0; j < s.outages.size(); ++j) {
            const Outage& o = s.outages[j];
            out << (j ? ", " : "") << "{\"start\": " << quotedText(stamp(o.start))
                << ", \"end\": " << (o.end ? quotedText(stamp(*o.end)) : "null")
                << ", \"duration_s\": " << durationS(o, now) << ", \"reason\": " << quotedText(o.reason)
                << "}";
        }
        out << "], \"latency_ms\": ";
        if (s.latency) {
            out << "{\"p50\": " << number(s.latency->p50, 1) << ", \"p95\": " << number(s.latency->p95, 1)
                << ", \"max\": " << number(s.latency->max, 1) << "}";
        } else {
            out << "{\"p50\": null, \"p95\": null, \"max\": null}";
        }
        out << "}";
    }
    out << (hosts.empty() ? "]\n" : "\n]\n");
}

void printCsv(const std::vector<HostReport>& hosts, std::ostream& out) {
    out << "name,address,type,uptime_ratio,checks,failed_checks,outages,downtime_s,latency_p50_ms,"
           "latency_p95_ms,latency_max_ms\r\n";
    for (const HostReport& h : hosts) {
        const RangeSummary& s = h.summary;
        out << csvText(h.key.name) << ',' << csvText(h.key.address) << ',' << h.key.type << ','
            << (s.uptime ? number(*s.uptime, 6) : "") << ',' << s.checks << ',' << s.failed << ','
            << s.outages.size() << ',' << s.downMs / 1000 << ',';
        if (s.latency) {
            out << number(s.latency->p50, 1) << ',' << number(s.latency->p95, 1) << ','
                << number(s.latency->max, 1);
        } else {
            out << ",,";
        }
        out << "\r\n";
    }
}

void printText(const std::vector<HostReport>& hosts, std::int64_t now, std::ostream& out) {
    for (const HostReport& h : hosts) {
        const RangeSummary& s = h.summary;
        out << h.key.name << " (" << h.key.address << ", " << h.key.type << ")\n  uptime "
            << (s.uptime ? number(*s.uptime * 100, 3) + " %" : std::string("not monitored")) << ", "
            << s.checks << " checks, " << s.failed << " failed, " << s.outages.size() << " outages\n";
        if (s.latency) {
            out << "  latency median " << number(s.latency->p50, 1) << " ms, 95th percentile "
                << number(s.latency->p95, 1) << " ms, maximum " << number(s.latency->max, 1) << " ms\n";
        }
        for (const Outage& o : s.outages) {
            out << "  outage " << stamp(o.start) << " to " << (o.end ? stamp(*o.end) : "ongoing") << " ("
                << durationS(o, now) << " s): " << o.reason << "\n";
        }
    }
}

}  // namespace

int runReport(const DaemonOptions& options, std::ostream& out, std::ostream& err) {
    const std::string configPath = options.configDir.empty()
                                       ? configFilePath()
                                       : (std::filesystem::path(options.configDir) / "vardo.cfg").string();
    SettingsFile extra;
    if (!extra.load(settingsPathBeside(configPath))) {
        err << "vardomond: " << extra.errorText << '\n';
        return 2;
    }
    const HistorySettings& h = extra.settings.history;
    const std::string path = h.path.empty() ? historyFilePath() : h.path;
    ServerDoc doc;
    if (!doc.load(options.document)) {
        err << "vardomond: Failed to open file: " << options.document << ": " << doc.errorText << '\n';
        return 2;
    }
    static const std::map<std::string, std::int64_t> kSince{
        {"24h", 1}, {"7d", 7}, {"30d", 30}, {"365d", 365}};
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t from = now - kSince.at(options.since) * 86'400'000;
    std::vector<HostReport> hosts;
    try {
        HistoryReader reader(path, Retention{h.keepChecksDays, h.keepMinutesDays, h.keepHoursDays});
        for (SeriesKey& key : seriesKeys(documentKey(options.document), doc.items())) {
            HostReport r{std::move(key), {}};
            if (const std::optional<std::int64_t> id = reader.series(r.key)) {
                r.summary = reader.summary(*id, from, now);
            }
            hosts.push_back(std::move(r));
        }
    } catch (const SqliteError& e) {
        err << "vardomond: cannot read the history " << path << ": " << e.what() << '\n';
        return 2;
    }
    if (options.format == "json") {
        printJson(hosts, now, out);
    } else if (options.format == "csv") {
        printCsv(hosts, out);
    } else {
        printText(hosts, now, out);
    }
    return 0;
}
