// A GUI-like thread edits the list, the settings and saves the document while the monitor
// thread cycles over it. Run under ThreadSanitizer, a data race fails the test.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "core/Monitor.h"
#include "support/MonitorFakes.h"
#include "support/TempDir.h"

namespace {

TEST(Concurrency, EditsWhileTheMonitorCyclesKeepTheListWhole) {
    Journal journal;
    ServerDoc doc;
    LiveConfig cfg;
    MonitorFlags flags;
    FakeProbes probes(journal);
    RecordingAlerts alerts(journal);
    RecordingView view(journal);
    FakeClock clock(journal);
    probes.quiet = alerts.quiet = view.quiet = clock.quiet = true;
    std::atomic<int> checks{0};
    probes.duringProbe = [&] { ++checks; };
    cfg.update([](ServerCfg& c) { c.interval = 0; });
    TempDir dir;

    for (int i = 0; i < 8; ++i) {
        ServerItem it;
        it.name = "h" + std::to_string(i);
        it.type = static_cast<std::int8_t>(i % 3);
        doc.append(it);
    }
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
    Monitor monitor(ctx);
    monitor.start();

    std::mt19937 rng(42);
    for (int step = 0; step < 3000; ++step) {
        const std::size_t n = doc.count();
        switch (rng() % 6) {
            case 0: {
                ServerItem it;
                it.name = "new" + std::to_string(step);
                doc.append(it);
                break;
            }
            case 1:
                if (n > 2) {
                    doc.remove(rng() % n);
                }
                break;
            case 2:
                if (auto it = doc.at(n ? rng() % n : 0)) {
                    it->address = "edited" + std::to_string(step);
                    doc.replace(rng() % (n ? n : 1), *it);
                }
                break;
            case 3:
                cfg.update([&](ServerCfg& c) { c.mailSubject = std::string(step % 50, 's'); });
                break;
            case 4:
                if (step % 100 == 0) {
                    doc.fileName = dir.file("c.vdm");
                    EXPECT_TRUE(doc.save());
                }
                break;
            default:
                if (step % 500 == 0) {
                    monitor.checkNow();
                    monitor.stop();
                    monitor.start();
                }
        }
    }
    monitor.stop();
    EXPECT_TRUE(monitor.waitDone(10000));
    EXPECT_GT(checks.load(), 0);

    // Every element is whole: run-time fields only ever come from a check of that host.
    for (const ServerItem& it : doc.items()) {
        EXPECT_GE(it.goodCount, 0);
        EXPECT_LE(it.consecutiveFailures, it.badCount);
        EXPECT_FALSE(it.name.empty());
    }
    ServerDoc loaded;
    EXPECT_TRUE(loaded.load(dir.file("c.vdm")));
}

TEST(Concurrency, SettingsReadersNeverSeeAHalfWrittenText) {
    LiveConfig cfg;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            const char c = static_cast<char>('a' + i % 26);
            cfg.update([&](ServerCfg& s) {
                s.mailServer.assign(static_cast<std::size_t>(1 + i % 40), c);
                s.interval = i;
            });
        }
        stop = true;
    });
    while (!stop) {
        const ServerCfg copy = cfg.get();
        ASSERT_TRUE(copy.mailServer.find_first_not_of(copy.mailServer.empty() ? 'x' : copy.mailServer[0]) ==
                    std::string::npos);
        (void)cfg.interval();
    }
    writer.join();
}

}  // namespace
