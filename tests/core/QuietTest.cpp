#include <gtest/gtest.h>

#include "core/AlertGate.h"
#include "core/HostParents.h"
#include "core/ProbePool.h"
#include "support/MonitorFakes.h"

namespace {

using Strings = std::vector<std::string>;

class QuietTest : public ::testing::Test, protected MonitorRig {
  protected:
    void add(const std::string& name, const std::vector<std::string>& parents = {}) {
        ServerItem it;
        it.name = name;
        it.address = name;
        HostExtras extras;
        setParentNames(extras, parents);
        doc.append(it, extras);
    }
    // One check of host 0 with the given result, and what it logged and ran.
    Strings check(bool good) {
        probes.scriptTcp({good});
        journal.clear();
        checkHost(ctx, 0);
        Strings said;
        for (const std::string& e : journal.entries()) {
            if (e.starts_with("log ") || e.find(" actions ") != std::string::npos) {
                said.push_back(e.substr(0, e.find(" @")));
            }
        }
        return said;
    }
    void mute(std::time_t until) {
        cfg.updateExtra([&](Settings& s) { muteHosts(s.monitor.mutes, {"web"}, until, clock.time); });
    }

    void SetUp() override { ctx.gate = &gate; }

    AlertGate gate;
};

TEST_F(QuietTest, AMuteHoldsEveryActionAndTheLastStateIsReportedOnceWhenItEnds) {
    add("web");
    EXPECT_EQ(check(false), (Strings{"log Server Down: web", "down actions web"}));
    mute(clock.time + 3600);
    EXPECT_EQ(check(true), (Strings{"log Server Up: web (muted)"}));
    EXPECT_EQ(check(false), (Strings{"log Server Down: web (muted)"}));
    EXPECT_EQ(check(true), (Strings{"log Server Up: web (muted)"}));
    EXPECT_EQ(check(true), Strings{});
    clock.time += 3600;
    EXPECT_EQ(check(true), (Strings{"log Server Up: web (after the mute)", "up actions web"}));
    EXPECT_EQ(check(true), Strings{});

    // A mute over a down and back up again leaves nothing to report.
    mute(0);
    check(false);
    check(true);
    cfg.updateExtra([](Settings& s) { unmuteHosts(s.monitor.mutes, {"web"}); });
    EXPECT_EQ(check(true), Strings{});
}

TEST_F(QuietTest, ARouterDownSuppressesItsThirtyChildrenCheckedEightAtOnce) {
    // The router comes last in the list: it is still checked and applied before its children.
    for (int i = 0; i < 30; ++i) {
        add("pc" + std::to_string(i), {"nowhere", "router"});
    }
    add("router");
    ProbePool pool{[this] {
        auto set = std::make_unique<FakeProbes>(journal);
        set->tcpFallback = false;
        return set;
    }};
    ctx.pool = &pool;
    cfg.updateExtra([](Settings& s) { s.monitor.checksAtOnce = 8; });
    // The router's own alerts are untouched by a mute of it, and it still suppresses.
    cfg.updateExtra([&](Settings& s) { muteHosts(s.monitor.mutes, {"router"}, 0, clock.time); });
    runCycle(ctx);

    const Strings down = journal.matching("log Server Down: ");
    ASSERT_EQ(down.size(), 31U);
    EXPECT_EQ(down[0], "log Server Down: router (muted) @1700000000");
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(down[i + 1], "log Server Down: pc" + std::to_string(i) + " (router is down) @1700000000");
    }
    EXPECT_TRUE(journal.matching("down actions").empty());
    EXPECT_TRUE(gate.stateOf(doc.snapshot(0)->id, "pc0", {}, clock.time).suppressed);

    // Unmuted, the router reports once it is up; its children, never reported down, come up
    // without actions.
    cfg.updateExtra([](Settings& s) { s.monitor.mutes.clear(); });
    journal.clear();
    ctx.pool = nullptr;
    runCycle(ctx);
    EXPECT_EQ(journal.matching("up actions"), Strings{});
    EXPECT_EQ(journal.matching("log Server Up: pc7"),
              Strings{"log Server Up: pc7 (router was down) @1700000000"});
}

TEST_F(QuietTest, AParentRingIsRefusedAndNeverMakesTheOrderLoop) {
    const std::vector<std::string> names{"gw", "core", "edge", "gw"};
    std::vector<HostExtras> extras(4);
    setParentNames(extras[0], {"core"});
    setParentNames(extras[1], {"edge"});
    const ParentGraph graph(names, extras);
    EXPECT_EQ(graph.ringWith(2, {"gw"}), "edge -> gw -> core -> edge");
    EXPECT_EQ(graph.ringWith(2, {"edge"}), "edge -> edge");
    EXPECT_EQ(graph.ringWith(2, {"unknown"}), std::nullopt);
    // The twin named "gw" is the first one, so its second twin may depend on edge.
    EXPECT_EQ(graph.ringWith(3, {"edge"}), std::nullopt);

    // A document written elsewhere may hold a ring all the same.
    setParentNames(extras[2], {"gw"});
    EXPECT_EQ(ParentGraph(names, extras).checkOrder(), (std::vector<std::size_t>{2, 1, 0, 3}));
}

TEST_F(QuietTest, AFlappingHostIsToldOnceAndReportsItsStateWhenStable) {
    add("web");
    Strings said;
    for (int i = 0; i < 30; ++i) {
        for (std::string& line : check(i % 2 == 1)) {
            said.push_back(std::move(line));
        }
    }
    const auto flapping = std::find(said.begin(), said.end(), "log Server Flapping: web");
    ASSERT_NE(flapping, said.end());
    EXPECT_EQ(std::count(said.begin(), said.end(), "log Server Flapping: web"), 1);
    EXPECT_TRUE(
        std::none_of(flapping, said.end(), [](const std::string& s) { return s.find("actions") != s.npos; }));
    EXPECT_EQ(*(said.end() - 1), "log Server Up: web (flapping)");

    said.clear();
    for (int i = 0; i < 30; ++i) {
        for (std::string& line : check(true)) {
            said.push_back(std::move(line));
        }
    }
    EXPECT_EQ(said,
              (Strings{"log Server Stable: web", "log Server Up: web (stable again)", "up actions web"}));
}

TEST(MuteTimes, SpansAndMorningsMeanWhatTheySay) {
    EXPECT_EQ(parseSpan("90s"), 90);
    EXPECT_EQ(parseSpan("30m"), 1800);
    EXPECT_EQ(parseSpan("2h"), 7200);
    EXPECT_EQ(parseSpan("1d"), 86400);
    for (const char* bad : {"", "h", "0m", "5", "1w", "-1h", "1.5h", "99999d", "1h "}) {
        EXPECT_EQ(parseSpan(bad), std::nullopt) << bad;
    }
    // Central European time as a rule, so no time zone files are needed.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    // 2026-03-29, the night the clocks go forward: 08:00 local is 06:00 UTC.
    EXPECT_EQ(nextLocalHour(1774742400 /* 00:00 UTC, 01:00 local */, 8), 1774764000);
    EXPECT_EQ(nextLocalHour(1774764000, 8), 1774764000 + 86400);
    unsetenv("TZ");
    tzset();
}

}  // namespace
