// The history store on real files in /tmp.
//  - Writer: 1,000 hosts' results at a check every 10 s of a replaceable clock, rolled up
//    every simulated minute, until all are written; results per second.
//  - Cycle: one monitor cycle over 1,000 hosts whose probes answer at once, with the history
//    behind the fan-out and without it, in turns; "slowdown" is how much longer it took.
//  - ChartYear: the points of one host's year (the default tiers, a check every 10 s).
//  - Uptime24h: the 24-hour uptime of 1,000 hosts, each with its outages and spans.
//  - Size: "bytes_per_check" of the raw checks of 100 hosts, index included, and
//    "growth_day32_to_60": the file at day 60 against day 32 of the same simulated run.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "bench/BenchFakes.h"
#include "core/FanOutView.h"
#include "core/Monitor.h"
#include "history/HistoryReader.h"
#include "history/HistoryView.h"
#include "history/HistoryWriter.h"
#include "history/RollUp.h"
#include "history/Schema.h"
#include "history/Sqlite.h"

namespace {

constexpr std::int64_t kT0 = 1'767'225'600'000;

std::string freshPath(const char* name) {
    const std::string dir = "/tmp/vardo-history-bench-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(path + suffix);
    }
    return path;
}

// The keys of the hosts, made once as the view makes them.
std::vector<const SeriesKey*> hostKeys(HistoryWriter& writer, int hosts) {
    std::vector<const SeriesKey*> keys;
    for (int i = 0; i < hosts; ++i) {
        keys.push_back(writer.intern(SeriesKey{"/bench/hosts.vdm", "host-" + std::to_string(i), "tcp",
                                               "10.0.0." + std::to_string(i % 250) + ":443", 1}));
    }
    return keys;
}

void BM_Writer(benchmark::State& state) {
    constexpr int kHosts = 1000;
    constexpr int kCycles = 120;
    for (auto _ : state) {
        std::atomic<std::int64_t> now{kT0};
        HistoryWriter::Options o;
        o.path = freshPath("writer.sqlite");
        o.now = [&] { return now.load(); };
        HistoryWriter w(std::move(o));
        w.start();
        const auto keys = hostKeys(w, kHosts);
        w.monitoring("/bench/hosts.vdm", true, kT0);
        for (int c = 0; c < kCycles; ++c) {
            now = kT0 + std::int64_t{c} * 10'000;
            for (int h = 0; h < kHosts; ++h) {
                CheckEvent e;
                e.key = keys[static_cast<std::size_t>(h)];
                e.at = now;
                e.good = (c + h) % 50 != 0;
                e.ms = 3 + (c * h) % 40;
                e.reason = e.good ? "" : "Connection refused";
                w.record(std::move(e));
            }
            if (c % 6 == 5) {
                w.rollUpNow();
            }
        }
        w.flush(std::chrono::minutes(5));
    }
    state.SetItemsProcessed(state.iterations() * kHosts * kCycles);
}
BENCHMARK(BM_Writer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Cycle(benchmark::State& state) {
    ServerDoc doc;
    std::vector<ServerItem> items;
    for (int i = 0; i < 1000; ++i) {
        ServerItem it;
        it.name = "host-" + std::to_string(i);
        it.address = "10.0.0." + std::to_string(i % 250);
        it.tcpPort = 443;
        it.failuresAllowed = 1;
        items.push_back(it);
    }
    doc.appendAll(std::move(items));
    doc.fileName = "/bench/hosts.vdm";
    LiveConfig cfg;
    MonitorFlags flags;
    NoAlerts alerts;
    SystemClock clock;
    InstantProbes probes;
    NoView base;
    HistoryWriter::Options o;
    o.path = freshPath("cycle.sqlite");
    HistoryWriter writer(std::move(o));
    writer.start();
    HistoryView history(doc, writer);
    history.refreshAllRows();
    FanOutView plain(base);
    FanOutView kept(base);
    kept.add(history);
    auto cycle = [&](MonitorView& view) {
        MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
        view.cycleStarted();
        for (std::size_t i = 0; i < doc.count(); ++i) {
            checkHost(ctx, i);
        }
        view.refreshHostRows();
    };
    using Clock = std::chrono::steady_clock;
    // The monitor thread's own processor time, apart from the time the writer's thread takes
    // from it on a busy machine.
    auto threadTime = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    Clock::duration without{};
    Clock::duration with{};
    std::chrono::nanoseconds cpuWithout{};
    std::chrono::nanoseconds cpuWith{};
    for (auto _ : state) {
        auto started = Clock::now();
        auto cpu = threadTime();
        cycle(plain);
        without += Clock::now() - started;
        cpuWithout += threadTime() - cpu;
        started = Clock::now();
        cpu = threadTime();
        cycle(kept);
        with += Clock::now() - started;
        cpuWith += threadTime() - cpu;
    }
    state.counters["slowdown"] =
        std::chrono::duration<double>(with) / std::chrono::duration<double>(without) - 1;
    state.counters["monitor_cpu_slowdown"] =
        std::chrono::duration<double>(cpuWith) / std::chrono::duration<double>(cpuWithout) - 1;
    state.counters["us_per_check_without"] = std::chrono::duration<double, std::micro>(without).count() /
                                             (1000.0 * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Cycle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

// A year of hosts in the default tiers: raw checks every 10 s for 7 days, minutes for 31,
// hours for the year; each host monitored all along with an outage a week.
std::string generated(int hosts, bool rawToo) {
    const std::string path = freshPath(rawToo ? "year.sqlite" : "uptime.sqlite");
    const std::int64_t now = kT0 + 365 * kDayMs;
    OpenedStore store = openForWriting(path);
    Database& db = *store.db;
    Transaction t(db);
    Statement series = db.prepare("INSERT INTO series VALUES(?, '/bench/hosts.vdm', ?, 'tcp', 'a', 1, ?)");
    Statement outage =
        db.prepare("INSERT INTO outages(series, start, end, reason) VALUES(?, ?, ?, 'Timed out')");
    for (int h = 1; h <= hosts; ++h) {
        series.bind(1, std::int64_t{h}).bind(2, "host-" + std::to_string(h)).bind(3, kT0).run();
        for (std::int64_t at = kT0 + h * 1000; at < now; at += 7 * kDayMs) {
            outage.bind(1, std::int64_t{h}).bind(2, at).bind(3, at + 600'000).run();
        }
    }
    db.exec(("INSERT INTO spans(document, start, end) VALUES('/bench/hosts.vdm', " + std::to_string(kT0) +
             ", " + std::to_string(now) + ")")
                .c_str());
    if (rawToo) {
        for (const auto& [table, size, days] :
             {std::tuple{"hours", kHourMs, 365}, std::tuple{"minutes", kMinuteMs, 31}}) {
            Statement s =
                db.prepare(std::string("INSERT INTO ") + table + " VALUES(1,?,?,0,5.0,12.5,40.0,30.0)");
            for (std::int64_t at = now - days * kDayMs; at < now; at += size) {
                s.bind(1, at).bind(2, size / 10'000).run();
            }
        }
        Statement raw = db.prepare("INSERT INTO checks VALUES(1,?,1,12,NULL)");
        for (std::int64_t at = now - 7 * kDayMs; at < now; at += 10'000) {
            raw.bind(1, at).run();
        }
    }
    t.commit();
    return path;
}

void BM_ChartYear(benchmark::State& state) {
    const std::string path = generated(1, true);
    HistoryReader reader(path, Retention{});
    const std::int64_t now = kT0 + 365 * kDayMs;
    std::size_t points = 0;
    for (auto _ : state) {
        points = reader.points(1, now - 365 * kDayMs, now).size();
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_ChartYear)->Unit(benchmark::kMillisecond);

void BM_Uptime24h(benchmark::State& state) {
    const std::string path = generated(1000, false);
    HistoryReader reader(path, Retention{});
    const std::int64_t now = kT0 + 365 * kDayMs;
    double sum = 0;
    for (auto _ : state) {
        for (std::int64_t h = 1; h <= 1000; ++h) {
            sum += reader.uptime(h, now - kDayMs, now).value_or(0);
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_Uptime24h)->Unit(benchmark::kMillisecond);

std::int64_t storeBytes(const std::string& path) {
    Database db(path, true, kLockWaitMs);
    return (db.scalar("PRAGMA page_count").value_or(0) - db.scalar("PRAGMA freelist_count").value_or(0)) *
           db.scalar("PRAGMA page_size").value_or(0);
}

// 100 hosts; a check every `range(0)` seconds of simulated time, for 60 days.
void BM_Size(benchmark::State& state) {
    constexpr int kHosts = 100;
    const std::int64_t every = state.range(0) * 1000;
    for (auto _ : state) {
        std::atomic<std::int64_t> now{kT0};
        const std::string path = freshPath("size.sqlite");
        HistoryWriter::Options o;
        o.path = path;
        o.now = [&] { return now.load(); };
        HistoryWriter w(std::move(o));
        w.start();
        const auto keys = hostKeys(w, kHosts);
        double perCheck = 0;
        std::int64_t day32 = 0;
        std::int64_t day60 = 0;
        for (std::int64_t at = kT0; at < kT0 + 60 * kDayMs; at += every) {
            now = at;
            for (int h = 0; h < kHosts; ++h) {
                CheckEvent e;
                e.key = keys[static_cast<std::size_t>(h)];
                e.at = at;
                e.good = true;
                e.ms = 5 + h % 30;
                w.record(std::move(e));
            }
            if ((at - kT0) % kHourMs == 0) {
                w.rollUpNow();
                w.flush(std::chrono::minutes(5));
            }
            if (at - kT0 == 6 * kDayMs) {
                // Before any prune: the raw checks alone against the file they take.
                w.flush(std::chrono::minutes(5));
                Database db(path, true, kLockWaitMs);
                const double checks =
                    static_cast<double>(db.scalar("SELECT count(*) FROM checks").value_or(1));
                // dbstat tells the pages of the table and its key alone.
                try {
                    Statement s = db.prepare("SELECT sum(pgsize) FROM dbstat WHERE name='checks'");
                    perCheck = s.step() ? s.real(0) / checks : 0;
                    s.reset();
                } catch (const SqliteError&) {
                    perCheck = -1;
                }
            }
            if (at - kT0 == 32 * kDayMs) {
                w.flush(std::chrono::minutes(5));
                day32 = storeBytes(path);
            }
        }
        w.flush(std::chrono::minutes(5));
        day60 = storeBytes(path);
        state.counters["bytes_per_check"] = perCheck;
        state.counters["day32_MB"] = static_cast<double>(day32) / 1e6;
        state.counters["growth_day32_to_60"] = static_cast<double>(day60) / static_cast<double>(day32) - 1;
    }
}
BENCHMARK(BM_Size)->Arg(60)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
