#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <thread>

#include "core/Monitor.h"
#include "core/ProbePool.h"
#include "support/MonitorFakes.h"

namespace {

using Strings = std::vector<std::string>;

// Waits on the real clock (the fake one's steps take no time) for a generous while.
bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

class MonitorTest : public ::testing::Test, protected MonitorRig {
  protected:
    ServerItem& add(const std::string& name, std::int8_t type = HostTcpIp) {
        ServerItem it;
        it.name = name;
        it.address = name + ".lan";
        it.type = type;
        it.tcpPort = 80;
        doc.append(it);
        added.push_back(it);
        return added.back();
    }
    void put(std::size_t i, const ServerItem& it) {
        auto snap = doc.snapshot(i);
        doc.replace(i, it);
        doc.writeBack(*snap, it);
    }
    ServerItem item(std::size_t i) { return *doc.at(i); }
    // Runs the thread procedure on this thread until `cycles` countdowns have begun.
    void runCycles(int cycles) {
        flags.running = true;
        int seen = 0;
        clock.onSleep = [&] {
            if (++seen >= cycles) {
                flags.running = false;
            }
        };
        EXPECT_EQ(MonitorThreadProc(ctx), 0);
    }

    std::vector<ServerItem> added;
};

TEST_F(MonitorTest, HostGoesDownOnEqualityAndUpAgainWithEventsInOrder) {
    ServerItem web = add("web");
    web.failuresAllowed = 2;
    put(0, web);
    probes.scriptTcp({false, false, false, false, true});
    clock.time = 1000;

    Strings statuses;
    for (int i = 0; i < 5; ++i) {
        journal.clear();
        checkHost(ctx, 0);
        const Strings all = journal.entries();
        statuses.push_back(all.back());
        if (i == 2) {
            EXPECT_EQ(all, (Strings{"view checking 0", "status Checking: web", "probe connect web.lan:80",
                                    "view counts 0 0/3", "log Server Down: web @1000",
                                    "down actions web @1000", "view status 0 0 c3"}));
        }
        if (i == 4) {
            EXPECT_EQ(all, (Strings{"view checking 0", "status Checking: web", "probe connect web.lan:80",
                                    "log Server Up: web @1000", "up actions web @1000", "view counts 0 1/4",
                                    "view status 0 1 c0"}));
        }
    }
    EXPECT_EQ(statuses, (Strings{"view status 0 0 c1", "view status 0 0 c2", "view status 0 0 c3",
                                 "view status 0 0 c4", "view status 0 1 c0"}));
    const ServerItem end = item(0);
    EXPECT_EQ(end.goodCount, 1);
    EXPECT_EQ(end.badCount, 4);
    EXPECT_EQ(end.consecutiveFailures, 0);
    EXPECT_EQ(end.status, StatusSuccess);
    EXPECT_TRUE(doc.modified);
}

TEST_F(MonitorTest, SubTypesCallTheirProbeAndAnUnknownOneChangesNothing) {
    ServerItem a = add("a");
    a.tcpType = TcpConnectReceive;
    put(0, a);
    ServerItem b = add("b");
    b.tcpType = TcpConnectSendReceive;
    put(1, b);
    ServerItem c = add("c");
    c.tcpType = 7;
    c.consecutiveFailures = 1;  // exactly one past the allowed 0
    c.badCount = 1;
    put(2, c);
    ServerItem web = add("web");
    web.tcpType = TcpHttpRequest;
    put(3, web);
    doc.setExtras(3, {{"http.method", "HEAD"}});
    add("tls");
    doc.setExtras(4, {{"tls.mode", "starttls-imap"}});
    EXPECT_TRUE(checkHost(ctx, 0));
    EXPECT_TRUE(checkHost(ctx, 1));
    EXPECT_TRUE(checkHost(ctx, 3));
    EXPECT_TRUE(checkHost(ctx, 4));
    EXPECT_EQ(journal.matching("probe"), (Strings{"probe receive a", "probe send b", "probe http web 1",
                                                  "probe tls tls starttls-imap"}));
    journal.clear();
    EXPECT_FALSE(checkHost(ctx, 2));
    EXPECT_TRUE(journal.matching("probe").empty());
    const ServerItem after = item(2);
    EXPECT_EQ(after.status, StatusChecking);
    EXPECT_EQ(after.badCount, 1);
    EXPECT_EQ(after.goodCount, 0);
    // Still one past the allowed failures: the down line comes again.
    EXPECT_EQ(journal.matching("log"), (Strings{"log Server Down: c @1700000000"}));
}

TEST_F(MonitorTest, AFailureShowsItsReasonEachTimeAndLogsItOncePerOutage) {
    add("web");
    probes.tcpFallback = false;
    probes.failureReason = "HTTP status 503";
    checkHost(ctx, 0);
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("log"),
              (Strings{"log Server Down: web @1700000000", "log Reason: web: HTTP status 503 @1700000000"}));
    EXPECT_EQ(journal.matching("status web"),
              (Strings{"status web: HTTP status 503", "status web: HTTP status 503"}));
    journal.clear();
    probes.tcpFallback = true;
    checkHost(ctx, 0);
    EXPECT_TRUE(journal.matching("status web").empty());
}

TEST_F(MonitorTest, PingTriesStopAtTheFirstReply) {
    ServerItem web = add("web", HostPing);
    web.numPings = 3;
    put(0, web);
    probes.scriptPing({0, 1, 1});
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("ping"), (Strings{"ping address web.lan", "ping", "ping"}));
    EXPECT_EQ(journal.matching("status"),
              (Strings{"status Checking: web", "status Checking: web (Ping 1 of 3)",
                       "status Checking: web (Ping 2 of 3)"}));
    EXPECT_EQ(item(0).status, StatusSuccess);

    journal.clear();
    probes.scriptPing({0, 0, 0});
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("ping").size(), 4u);
    EXPECT_EQ(item(0).badCount, 1);

    journal.clear();
    web = item(0);
    web.numPings = 0;
    put(0, web);
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("ping"), (Strings{"ping address web.lan"}));
    EXPECT_EQ(item(0).badCount, 2);
}

TEST_F(MonitorTest, ServiceHostReportsUpOnEverySuccess) {
    add("svc", HostService);
    ServerItem s = item(0);
    s.service = "cups";
    put(0, s);
    checkHost(ctx, 0);
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("log"),
              (Strings{"log Server Up: svc @1700000000", "log Server Up: svc @1700000000"}));
    EXPECT_EQ(journal.matching("up actions").size(), 2u);
    EXPECT_EQ(journal.matching("service"),
              (Strings{"service open svc.lan", "service query cups", "service close", "service open svc.lan",
                       "service query cups", "service close"}));
    EXPECT_EQ(item(0).goodCount, 2);

    journal.clear();
    probes.scriptService({{true, true, false}});
    checkHost(ctx, 0);
    EXPECT_EQ(item(0).badCount, 1);
    EXPECT_EQ(journal.matching("log"), (Strings{"log Server Down: svc @1700000000"}));
}

TEST_F(MonitorTest, FailedToCheckServiceKeepsTheCountersAndUsesTheCurrentTime) {
    add("svc", HostService);
    ServerItem s = item(0);
    s.goodCount = 3;
    s.badCount = 1;
    s.consecutiveFailures = 1;  // already down with 0 allowed
    put(0, s);
    clock.time = 500;
    probes.duringProbe = [&] { clock.time = 530; };
    probes.scriptService({{false, true, true}, {true, false, true}});
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("service"), (Strings{"service open svc.lan"}));
    journal.clear();
    clock.time = 500;
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("service"),
              (Strings{"service open svc.lan", "service query ", "service close"}));
    const ServerItem after = item(0);
    EXPECT_EQ(after.status, StatusFailure);
    EXPECT_EQ(after.goodCount, 3);
    EXPECT_EQ(after.badCount, 1);
    EXPECT_EQ(after.consecutiveFailures, 1);
    // The failure line carries the time it was written; the down line that follows (c is
    // still one past the allowed 0) carries the time of the check.
    EXPECT_EQ(journal.matching("log"),
              (Strings{"log Failed to check service for item: svc @530", "log Server Down: svc @500"}));
}

TEST_F(MonitorTest, ChangedFailuresAllowedMovesTheBoundaryWithoutEvents) {
    ServerItem h = add("h");
    h.failuresAllowed = 1;
    h.consecutiveFailures = 3;
    put(0, h);
    probes.scriptTcp({false, true});
    checkHost(ctx, 0);  // c 4, never equal to A + 1
    EXPECT_TRUE(journal.matching("log").empty());
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("log"), (Strings{"log Server Up: h @1700000000"}));

    journal.clear();
    h = item(0);
    h.consecutiveFailures = 2;
    h.failuresAllowed = 2;  // raised to the failures: counts as up, no up event
    put(0, h);
    checkHost(ctx, 0);
    EXPECT_TRUE(journal.matching("log").empty());
    EXPECT_TRUE(journal.matching("up actions").empty());
}

TEST_F(MonitorTest, CountdownTextsAndStopShowIdle) {
    add("a");
    cfg.update([](ServerCfg& c) { c.interval = 2; });
    runCycles(120);
    const Strings texts = journal.matching("status");
    ASSERT_EQ(texts.size(), 1u + 120u + 1u);
    EXPECT_EQ(texts[1], "status 120 seconds until next check.");
    EXPECT_EQ(texts[120], "status 1 seconds until next check.");
    EXPECT_EQ(texts.back(), "status Idle");
    EXPECT_TRUE(flags.threadDone);
    EXPECT_EQ(journal.matching("view refreshHosts").size(), 1u);
}

TEST_F(MonitorTest, StopDuringTheCountdownEndsWithinOneStep) {
    runCycles(3);
    EXPECT_EQ(clock.sleeps, 3);
    EXPECT_EQ(journal.matching("status").back(), "status Idle");
    EXPECT_EQ(journal.matching("status 58 seconds").size(), 1u);
}

TEST_F(MonitorTest, CheckNowEndsTheCountdownAfterTheCurrentStep) {
    add("a");
    flags.running = true;
    int sleeps = 0;
    clock.onSleep = [&] {
        ++sleeps;
        if (sleeps == 5) {
            flags.checkNow = true;  // during the first countdown
        }
        if (sleeps == 6) {
            flags.running = false;  // first step of the second countdown
        }
    };
    MonitorThreadProc(ctx);
    EXPECT_EQ(journal.matching("probe").size(), 2u);
    EXPECT_FALSE(flags.checkNow);
}

TEST_F(MonitorTest, CheckNowDuringTheHostsEndsTheNextCountdownAfterOneSecond) {
    add("a");
    flags.running = true;
    probes.duringProbe = [&] { flags.checkNow = true; };
    int sleeps = 0;
    clock.onSleep = [&] {
        if (++sleeps == 2) {
            flags.running = false;
            probes.duringProbe = nullptr;
        }
    };
    MonitorThreadProc(ctx);
    // Each countdown lasted one step: two cycles, two sleeps.
    EXPECT_EQ(journal.matching("probe").size(), 2u);
    EXPECT_EQ(journal.matching("status 60 seconds").size(), 2u);
    EXPECT_EQ(journal.matching("status 59 seconds").size(), 0u);
}

TEST_F(MonitorTest, CheckNowWhileOffIsClearedByTheFirstCycle) {
    add("a");
    flags.checkNow = true;
    runCycles(2);
    EXPECT_EQ(journal.matching("probe").size(), 1u);
    EXPECT_EQ(journal.matching("status 59 seconds").size(), 1u);
}

TEST_F(MonitorTest, IntervalZeroWithNothingToCheckWaitsOneStepPerCycle) {
    cfg.update([](ServerCfg& c) { c.interval = 0; });
    runCycles(3);
    EXPECT_EQ(journal.matching("view refreshHosts").size(), 3u);
    EXPECT_EQ(journal.matching("sleep 1000").size(), 3u);
    // No countdown, so no "Idle" either.
    EXPECT_TRUE(journal.matching("status").empty());
}

TEST_F(MonitorTest, IntervalZeroWaitsOutTheRestOfAShortCycle) {
    add("a");
    probes.tcpFallback = false;  // fails at once, like a refused local port
    cfg.update([](ServerCfg& c) { c.interval = 0; });
    flags.running = true;
    int checks = 0;
    probes.duringProbe = [&] {
        ++checks;
        if (checks == 2) {
            clock.steadyMs += 300;
        } else if (checks == 3) {
            clock.steadyMs += 1500;
        }
        if (clock.steadyMs >= 5000 || checks == 50) {
            flags.running = false;
        }
    };
    MonitorThreadProc(ctx);
    // Five seconds hold six cycles: a short one waits out its second, a long one does not wait.
    EXPECT_EQ(checks, 6);
    EXPECT_EQ(journal.matching("sleep"),
              (Strings{"sleep 1000", "sleep 700", "sleep 1000", "sleep 1000", "sleep 1000"}));
}

TEST_F(MonitorTest, CountersAtTheLargestValueSaturate) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    ServerItem web = add("web");
    web.goodCount = web.badCount = web.consecutiveFailures = web.failuresAllowed = kMax;
    put(0, web);
    probes.scriptTcp({false, true});
    checkHost(ctx, 0);
    checkHost(ctx, 0);
    EXPECT_EQ(item(0).badCount, kMax);
    EXPECT_EQ(item(0).goodCount, kMax);
    EXPECT_TRUE(journal.matching("log").empty());

    // One past the allowed is the largest count: reached once, it cannot be reached again.
    web = item(0);
    web.failuresAllowed = kMax - 1;
    web.consecutiveFailures = kMax - 1;
    put(0, web);
    probes.scriptTcp({false, false});
    checkHost(ctx, 0);
    checkHost(ctx, 0);
    EXPECT_EQ(item(0).consecutiveFailures, kMax);
    EXPECT_EQ(journal.matching("log"), (Strings{"log Server Down: web @1700000000"}));
}

TEST_F(MonitorTest, TheCycleFollowsAListThatShrinksOrGrows) {
    add("a");
    add("b");
    add("c");
    flags.running = true;
    int calls = 0;
    probes.duringProbe = [&] {
        if (++calls == 1) {
            doc.remove(2);  // "c" goes while "a" is checked
            ServerItem d;
            d.name = "d";
            d.address = "d.lan";
            doc.append(d);
            doc.append(d);
            doc.remove(3);
        }
    };
    clock.onSleep = [&] { flags.running = false; };
    MonitorThreadProc(ctx);
    EXPECT_EQ(journal.matching("probe"),
              (Strings{"probe connect a.lan:80", "probe connect b.lan:80", "probe connect d.lan:0"}));
    EXPECT_EQ(item(0).goodCount, 1);
    EXPECT_EQ(item(2).goodCount, 1);
}

TEST_F(MonitorTest, AnEditDuringTheCheckSurvivesTheWriteBack) {
    add("a");
    probes.duringProbe = [&] {
        ServerItem edited = *doc.at(0);
        edited.address = "new.lan";
        edited.failuresAllowed = 4;
        doc.replace(0, edited);
    };
    probes.tcpFallback = false;
    checkHost(ctx, 0);
    const ServerItem after = item(0);
    EXPECT_EQ(after.address, "new.lan");
    EXPECT_EQ(after.failuresAllowed, 4);
    EXPECT_EQ(after.badCount, 1);
    EXPECT_EQ(after.consecutiveFailures, 1);
}

TEST_F(MonitorTest, ARemovedHostIsNotWrittenBack) {
    add("a");
    add("b");
    probes.duringProbe = [&] { doc.remove(0); };
    checkHost(ctx, 0);
    ASSERT_EQ(doc.count(), 1u);
    EXPECT_EQ(item(0).name, "b");
    EXPECT_EQ(item(0).goodCount, 0);
    // Its row is gone too: no update paints the host that took its place.
    EXPECT_EQ(journal.matching("view"), (Strings{"view checking 0"}));
}

TEST_F(MonitorTest, AResultActsOnTheHostAsItIsWhenAppliedAndNotAtAllWhenItWent) {
    add("a");
    add("b");
    probes.tcpFallback = false;  // every check fails, so each host goes down at once
    probes.duringProbe = [&] { doc.remove(0); };
    checkHost(ctx, 0);
    probes.duringProbe = [&] {
        ServerItem edited = *doc.at(0);
        edited.name = "renamed";
        doc.replace(0, edited);
    };
    checkHost(ctx, 0);
    EXPECT_EQ(journal.matching("log"), (Strings{"log Server Down: renamed @1700000000"}));
    EXPECT_EQ(journal.matching("down actions"), (Strings{"down actions renamed @1700000000"}));
}

TEST_F(MonitorTest, OneCheckAtATimeKeepsItsJournalCallForCall) {
    // With probe sets at hand, a setting of 1 still checks one host after another with the
    // monitor thread's own probes.
    ProbePool pool([]() -> std::unique_ptr<HostProbes> {
        ADD_FAILURE() << "a probe set was made for one check at a time";
        return nullptr;
    });
    ctx.pool = &pool;
    cfg.updateExtra([](Settings& s) { s.monitor.checksAtOnce = 1; });
    add("web");
    ServerItem ping = add("ping", HostPing);
    ping.numPings = 3;
    ping.consecutiveFailures = 1;
    put(1, ping);
    for (const auto& [name, service] : {std::pair{"svc", "cups"}, {"gone", "x"}}) {
        ServerItem svc = add(name, HostService);
        svc.service = service;
        put(doc.count() - 1, svc);
    }
    probes.scriptTcp({false});
    probes.scriptPing({0, 0, 1});
    probes.scriptService({{true, true, true}, {true, false, true}});
    runCycles(1);
    EXPECT_EQ(journal.entries(), (Strings{
                                     "view checking 0",
                                     "status Checking: web",
                                     "probe connect web.lan:80",
                                     "view counts 0 0/1",
                                     "log Server Down: web @1700000000",
                                     "down actions web @1700000000",
                                     "view status 0 0 c1",
                                     "view checking 1",
                                     "status Checking: ping",
                                     "ping address ping.lan",
                                     "status Checking: ping (Ping 1 of 3)",
                                     "ping",
                                     "status Checking: ping (Ping 2 of 3)",
                                     "ping",
                                     "status Checking: ping (Ping 3 of 3)",
                                     "ping",
                                     "log Server Up: ping @1700000000",
                                     "up actions ping @1700000000",
                                     "view counts 1 1/0",
                                     "view status 1 1 c0",
                                     "view checking 2",
                                     "status Checking: svc",
                                     "service open svc.lan",
                                     "service query cups",
                                     "log Server Up: svc @1700000000",
                                     "up actions svc @1700000000",
                                     "service close",
                                     "view counts 2 1/0",
                                     "view status 2 1 c0",
                                     "view checking 3",
                                     "status Checking: gone",
                                     "service open gone.lan",
                                     "service query x",
                                     "log Failed to check service for item: gone @1700000000",
                                     "service close",
                                     "view counts 3 0/0",
                                     "view status 3 0 c0",
                                     "view refreshHosts",
                                     "status 60 seconds until next check.",
                                     "sleep 1000",
                                     "status Idle",
                                 }));
}

// Real threads from here on, with a clock whose steps take no time.
TEST_F(MonitorTest, StartAfterStopNeverRunsTwoThreads) {
    add("a");
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> checks{0};
    probes.duringProbe = [&] {
        const int n = ++inside;
        most = std::max(most.load(), n);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        --inside;
        ++checks;
    };
    probes.quiet = alerts.quiet = view.quiet = clock.quiet = true;
    cfg.update([](ServerCfg& c) { c.interval = 0; });
    Monitor monitor(ctx);
    for (int i = 0; i < 20; ++i) {
        monitor.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        monitor.stop();
    }
    checks = 0;
    monitor.start();
    EXPECT_TRUE(monitor.isRunning());
    EXPECT_TRUE(waitUntil([&] { return checks > 0; }));
    monitor.stop();
    EXPECT_TRUE(waitUntil([&] { return flags.threadDone.load(); }));
    EXPECT_EQ(most.load(), 1);
}

TEST_F(MonitorTest, CancelAndJoinEndsAWaitingProbeAndChecksNoFurtherHost) {
    add("a");
    add("b");
    std::atomic<bool> entered{false};
    probes.duringProbe = [&] {
        entered = true;
        while (probes.cancels == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    Monitor monitor(ctx);
    monitor.start();
    while (!entered) {
        std::this_thread::yield();
    }
    monitor.cancelAndJoin();
    EXPECT_TRUE(flags.threadDone);
    EXPECT_FALSE(flags.running);
    EXPECT_EQ(journal.matching("probe").size(), 1u);
}

TEST_F(MonitorTest, ToggleSwitchesAndWaitDoneSeesTheEnd) {
    Monitor monitor(ctx);
    clock.quiet = true;
    EXPECT_TRUE(monitor.toggle());
    EXPECT_FALSE(monitor.toggle());
    EXPECT_TRUE(waitUntil([&] { return flags.threadDone.load(); }));
    EXPECT_TRUE(monitor.waitDone(1));
}

}  // namespace
