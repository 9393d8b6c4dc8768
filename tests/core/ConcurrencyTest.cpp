// A GUI-like thread edits the list, the settings and saves the document while the monitor
// thread cycles over it. Run under ThreadSanitizer, a data race fails the test.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "core/Monitor.h"
#include "core/ProbePool.h"
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

using Strings = std::vector<std::string>;

// Holds every TCP check until the test lets its address through, or until the probe set
// that runs it is cancelled (which fails the check).
class Gate {
  public:
    bool pass(const std::string& address, const FakeProbes& set) {
        std::unique_lock lock(mutex_);
        entered_.insert(address);
        changed_.notify_all();
        while (!open_.contains(address) && set.cancels == 0) {
            changed_.wait_for(lock, std::chrono::milliseconds(1));
        }
        return open_.contains(address) && !failing.contains(address);
    }
    void open(const std::string& address) {
        std::lock_guard lock(mutex_);
        open_.insert(address);
        changed_.notify_all();
    }
    // Waits (generously) until the check of address has begun.
    bool entered(const std::string& address) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_.contains(address); });
    }
    std::size_t enteredCount() {
        std::lock_guard lock(mutex_);
        return entered_.size();
    }

    std::set<std::string> failing;  // set before the checks begin

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> entered_;
    std::set<std::string> open_;
};

// A monitor that runs three checks at once; each probe set is a FakeProbes whose TCP
// checks pass the gate.
class SeveralAtOnce : public ::testing::Test, protected MonitorRig {
  protected:
    SeveralAtOnce() {
        ctx.pool = &pool;
        cfg.updateExtra([](Settings& s) { s.monitor.checksAtOnce = 3; });
        clock.quiet = true;
    }
    void hosts(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            ServerItem it;
            it.name = it.address = name;
            doc.append(it);
        }
    }
    // What applying results does: held reports, log lines, actions, counts and status of rows.
    Strings applied() const {
        Strings out;
        for (const std::string& e : journal.entries()) {
            if (e.starts_with("held") || e.starts_with("log") || e.starts_with("down") ||
                e.starts_with("up") || e.starts_with("view counts") || e.starts_with("view status")) {
                out.push_back(e);
            }
        }
        return out;
    }
    // Waits (generously) for the thread to end by itself.
    bool threadEnded() {
        for (int i = 0; i < 10000 && !flags.threadDone; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return flags.threadDone;
    }

    Gate gate;
    bool holdReports = false;  // set before the monitor starts
    std::vector<FakeProbes*> sets;
    ProbePool pool{[this] {
        auto set = std::make_unique<FakeProbes>(journal);
        set->holdReports = holdReports;
        set->byAddress = [this, &self = *set](const std::string& address) {
            return gate.pass(address, self);
        };
        sets.push_back(set.get());
        return set;
    }};
};

TEST_F(SeveralAtOnce, ResultsApplyInListOrderWhateverOrderTheProbesEndIn) {
    hosts({"h0", "h1", "h2", "h3", "h4"});
    gate.failing = {"h1", "h3"};
    holdReports = true;
    Monitor monitor(ctx);
    monitor.start();
    ASSERT_TRUE(gate.entered("h2"));
    // Stop during the cycle lets it finish.
    monitor.stop();
    // A worker that is done takes the next host at once, while h0 and h1 wait.
    for (const char* host : {"h2", "h3", "h4"}) {
        ASSERT_TRUE(gate.entered(host));
        gate.open(host);
    }
    gate.open("h1");
    gate.open("h0");
    ASSERT_TRUE(threadEnded());
    EXPECT_EQ(applied(),
              (Strings{"held report h0", "view counts 0 1/0", "view status 0 1 c0", "held report h1",
                       "view counts 1 0/1", "log Server Down: h1 @1700000000", "down actions h1 @1700000000",
                       "view status 1 0 c1", "held report h2", "view counts 2 1/0", "view status 2 1 c0",
                       "held report h3", "view counts 3 0/1", "log Server Down: h3 @1700000000",
                       "down actions h3 @1700000000", "view status 3 0 c1", "held report h4",
                       "view counts 4 1/0", "view status 4 1 c0"}));
    // The status text names the first host not yet applied.
    EXPECT_EQ(journal.matching("status Checking"),
              (Strings{"status Checking: h0", "status Checking: h1", "status Checking: h2",
                       "status Checking: h3", "status Checking: h4"}));
    EXPECT_EQ(journal.matching("view checking").size(), 5u);
    EXPECT_EQ(journal.matching("status").back(), "status Idle");
    EXPECT_EQ(sets.size(), 3u);
}

TEST_F(SeveralAtOnce, ARemovalMidCycleChecksNoHostTwiceAndPaintsNoOtherRow) {
    cfg.updateExtra([](Settings& s) { s.monitor.checksAtOnce = 2; });
    hosts({"a", "b", "c", "d"});
    Monitor monitor(ctx);
    monitor.start();
    ASSERT_TRUE(gate.entered("a"));
    ASSERT_TRUE(gate.entered("b"));
    monitor.stop();
    doc.remove(0);  // "a" goes while it is checked: b, c and d move up one row
    for (const char* host : {"a", "b", "c", "d"}) {
        gate.open(host);
    }
    ASSERT_TRUE(threadEnded());
    // The list is walked by position, as one host after another walks it: c moved into a
    // position already taken, so this cycle passes it over.
    Strings probed = journal.matching("probe");
    std::sort(probed.begin(), probed.end());
    EXPECT_EQ(probed, (Strings{"probe connect a:0", "probe connect b:0", "probe connect d:0"}));
    // b's row is now the first; nothing paints the rows of a, which is gone.
    EXPECT_EQ(applied(), (Strings{"view counts 0 1/0", "view status 0 1 c0", "view counts 2 1/0",
                                  "view status 2 1 c0"}));
}

TEST_F(SeveralAtOnce, TheCloseCancelsEveryWaitingProbeAndAppliesNothing) {
    hosts({"a", "b", "c", "d", "e"});
    Monitor monitor(ctx);
    monitor.start();
    for (const char* host : {"a", "b", "c"}) {
        ASSERT_TRUE(gate.entered(host));
    }
    monitor.cancelAndJoin();
    EXPECT_TRUE(flags.threadDone);
    ASSERT_EQ(sets.size(), 3u);
    for (const FakeProbes* set : sets) {
        EXPECT_GT(set->cancels, 0);
    }
    EXPECT_EQ(gate.enteredCount(), 3u);
    EXPECT_TRUE(applied().empty());
}

TEST_F(SeveralAtOnce, FewerChecksAtOnceEndTheIdleWorkersWithTheirProbeSets) {
    struct Counted : FakeProbes {
        Counted(Journal& journal, std::atomic<int>& live) : FakeProbes(journal), live_(live) { ++live_; }
        ~Counted() override { --live_; }
        std::atomic<int>& live_;
    };
    std::atomic<int> live{0};
    ProbePool counted([&] { return std::make_unique<Counted>(journal, live); });
    MonitorContext own{doc, cfg, flags, probes, alerts, view, clock, &counted};
    hosts({"a", "b", "c", "d"});
    for (const int atOnce : {4, 2, 1}) {
        cfg.updateExtra([atOnce](Settings& s) { s.monitor.checksAtOnce = atOnce; });
        runCycle(own);
        EXPECT_EQ(live, atOnce == 1 ? 0 : atOnce);
    }
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
