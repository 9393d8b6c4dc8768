// The history store as its writers and readers meet it, on real files in a temporary folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "history/HistoryReader.h"
#include "history/HistoryView.h"
#include "history/HistoryWriter.h"
#include "history/RollUp.h"
#include "history/Schema.h"
#include "history/SeriesNames.h"
#include "history/Sqlite.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// 2026-01-01 00:00:00 UTC.
constexpr std::int64_t kT0 = 1'767'225'600'000;

const SeriesKey kWeb{"/docs/office.vdm", "web", "tcp", "127.0.0.1:80", 1};

// Keys as the writers intern them; they outlive every writer of the tests.
const SeriesKey* interned(const SeriesKey& key) {
    static std::map<std::string, std::unique_ptr<SeriesKey>> keys;
    std::unique_ptr<SeriesKey>& k = keys[key.document + key.name];
    if (!k) {
        k = std::make_unique<SeriesKey>(key);
    }
    return k.get();
}

CheckEvent check(const SeriesKey& key, std::int64_t at, bool good, std::int64_t ms = 10,
                 CheckEvent::Change change = CheckEvent::Change::None) {
    CheckEvent e;
    e.key = interned(key);
    e.at = at;
    e.good = good;
    e.ms = ms;
    e.reason = good ? "" : "Connection refused";
    e.change = change;
    return e;
}

// The host the views of the tests watch: "web", a TCP connect to 127.0.0.1:80.
ServerItem webHost() {
    ServerItem host;
    host.name = "web";
    host.address = "127.0.0.1";
    host.tcpPort = 80;
    return host;
}

class HistoryTest : public ::testing::Test {
  protected:
    std::unique_ptr<HistoryWriter> writer(Retention keep = {}) {
        HistoryWriter::Options o;
        o.path = path;
        o.keep = keep;
        o.now = [this] { return now.load(); };
        o.batchEvery = 5ms;
        auto w = std::make_unique<HistoryWriter>(std::move(o));
        EXPECT_TRUE(w->start()) << w->note();
        return w;
    }
    std::int64_t count(const char* sql) {
        Database db(path, true, kLockWaitMs);
        return db.scalar(sql).value_or(-1);
    }

    TempDir dir;
    std::string path = dir.file("history.sqlite");
    std::atomic<std::int64_t> now{kT0};
};

TEST_F(HistoryTest, TiersRollUpAtTheirBoundariesAndArePrunedByAge) {
    const Retention keep{1, 2, 3};
    auto w = writer(keep);
    w->monitoring(kWeb.document, true, kT0);
    // Four days, a check every 20 s taking 10, 20 and 30 ms in turn; the first check of every
    // hour fails.
    for (std::int64_t t = kT0; t < kT0 + 4 * kDayMs; t += 20'000) {
        now = t;
        const bool good = t % kHourMs != 0;
        w->record(check(kWeb, t, good, 10 + (t / 20'000) % 3 * 10));
        if (t % kHourMs == kHourMs - 20'000) {
            w->rollUpNow();
            ASSERT_TRUE(w->flush());
        }
    }
    now = kT0 + 4 * kDayMs;
    w->rollUpNow();
    ASSERT_TRUE(w->flush());

    // Each tier holds only what it is kept for, and the days everything.
    EXPECT_GE(count("SELECT min(t) FROM checks"), now - 1 * kDayMs);
    EXPECT_GE(count("SELECT min(t) FROM minutes"), now - 2 * kDayMs);
    EXPECT_GE(count("SELECT min(t) FROM hours"), now - 3 * kDayMs);
    EXPECT_EQ(count("SELECT min(t) FROM days"), kT0);
    EXPECT_EQ(count("SELECT count(*) FROM days"), 4);
    // A day: 4320 checks, 24 of them failed (those at the start of an hour, which belong to it).
    Database db(path, true, kLockWaitMs);
    Statement day = db.prepare("SELECT good, bad, lo, mean, hi, p95 FROM days WHERE t=?");
    day.bind(1, kT0 + kDayMs);
    ASSERT_TRUE(day.step());
    EXPECT_EQ(day.integer(0), 4320 - 24);
    EXPECT_EQ(day.integer(1), 24);
    EXPECT_DOUBLE_EQ(day.real(2), 10);
    EXPECT_NEAR(day.real(3), 20, 0.1);
    EXPECT_DOUBLE_EQ(day.real(4), 30);
    EXPECT_DOUBLE_EQ(day.real(5), 30);
    day.reset();
    // A minute that begins with a failure: the check at its first millisecond is in it, the
    // one 60 s later is not.
    Statement minute = db.prepare("SELECT good, bad FROM minutes WHERE t=?");
    minute.bind(1, now - kHourMs);
    ASSERT_TRUE(minute.step());
    EXPECT_EQ(minute.integer(0), 2);
    EXPECT_EQ(minute.integer(1), 1);
    minute.reset();

    // The report over the last three days reads hours, minutes and checks without counting
    // any check twice.
    HistoryReader reader(path, keep);
    const std::int64_t id = reader.series(kWeb).value();
    const RangeSummary s = reader.summary(id, now - 3 * kDayMs, now);
    EXPECT_EQ(s.checks, 3 * 4320);
    EXPECT_EQ(s.failed, 3 * 24);
}

TEST_F(HistoryTest, AnOutageGoesOnAcrossARestartAndUnmonitoredTimeIsNeitherUpNorDown) {
    {
        auto w = writer();
        w->monitoring(kWeb.document, true, kT0);
        w->record(check(kWeb, kT0, true));
        CheckEvent down = check(kWeb, kT0 + 120'000, false, 3000, CheckEvent::Change::WentDown);
        down.outageStart = kT0 + 60'000;
        down.outageReason = "Timed out";
        w->record(down);
        now = kT0 + 180'000;
        w->monitoring(kWeb.document, false, kT0 + 180'000);
        ASSERT_TRUE(w->flush());
    }
    // An hour not monitored, then the host is found up.
    now = kT0 + 180'000 + kHourMs;
    auto w = writer();
    w->monitoring(kWeb.document, true, now);
    w->record(check(kWeb, now + 60'000, true, 10, CheckEvent::Change::WentUp));
    now = now + 120'000;
    ASSERT_TRUE(w->flush());

    HistoryReader reader(path, {});
    const RangeSummary s = reader.summary(reader.series(kWeb).value(), kT0, now);
    ASSERT_EQ(s.outages.size(), 1u);
    EXPECT_EQ(s.outages[0].start, kT0 + 60'000);
    EXPECT_EQ(s.outages[0].end, kT0 + 180'000 + kHourMs + 60'000);
    EXPECT_EQ(s.outages[0].reason, "Timed out");
    // Monitored: 3 minutes, then 2; down: 2 minutes before the stop and 1 after the start.
    EXPECT_EQ(s.monitoredMs, 300'000);
    EXPECT_EQ(s.downMs, 180'000);
    EXPECT_NEAR(s.uptime.value(), 0.4, 1e-9);
}

TEST_F(HistoryTest, AClockThatStepsBackMakesNoNegativeOutageAndKeepsEveryCheckCounted) {
    auto w = writer();
    w->monitoring(kWeb.document, true, kT0);
    now = kT0 + 10 * kMinuteMs;
    w->record(check(kWeb, now, false, 5, CheckEvent::Change::WentDown));
    // The clock goes back five minutes.
    now = kT0 + 5 * kMinuteMs;
    w->record(check(kWeb, now, true, 5, CheckEvent::Change::WentUp));
    w->record(check(kWeb, now, true, 5));
    now = kT0 + 12 * kMinuteMs;
    w->rollUpNow();
    ASSERT_TRUE(w->flush());
    EXPECT_EQ(count("SELECT min(end - start) FROM outages"), 0);
    EXPECT_EQ(count("SELECT sum(good + bad) FROM minutes"), 3);
}

TEST_F(HistoryTest, ADamagedFileIsMovedAsideAndANewStoreStarted) {
    writeFileBytes(path, std::string(8192, 'x'));
    auto w = writer();
    EXPECT_NE(w->note().find("moved aside"), std::string::npos) << w->note();
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().starts_with("history.sqlite.damaged-")) {
            ++aside;
            EXPECT_EQ(readFileBytes(entry.path()), std::string(8192, 'x'));
        }
    }
    EXPECT_EQ(aside, 1);
    w->record(check(kWeb, kT0, true));
    ASSERT_TRUE(w->flush());
    EXPECT_EQ(count("SELECT count(*) FROM checks"), 1);
}

TEST_F(HistoryTest, AFullDiskPausesWritingAndItResumesLosingOnlyTheCountedResults) {
    // A tiny tmpfs in a mount namespace of a child of its own: the test's own mounts stay.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=512k") != 0) {
            ::_exit(77);
        }
        std::vector<std::string> notices;
        std::mutex m;
        HistoryWriter::Options o;
        o.path = path;
        o.queueLimit = 1000;
        o.batchEvery = 5ms;
        o.retryEvery = 20ms;
        o.notice = [&](const std::string& text) {
            std::lock_guard lock(m);
            notices.push_back(text);
        };
        HistoryWriter w(std::move(o));
        if (!w.start()) {
            ::_exit(10);
        }
        {
            std::ofstream filler(dir.file("filler"));
            const std::string block(4096, 'f');
            while (filler.write(block.data(), block.size())) {
            }
        }
        w.record(check(kWeb, kT0, true));
        if (!waitUntil([&] { return w.paused(); })) {
            ::_exit(11);
        }
        for (int i = 1; i <= 3000; ++i) {
            w.record(check(kWeb, kT0 + i * 1000, true));
        }
        std::filesystem::remove(dir.file("filler"));
        if (!waitUntil([&] { return !w.paused(); }) || !w.flush()) {
            ::_exit(12);
        }
        const std::int64_t kept =
            Database(path, true, kLockWaitMs).scalar("SELECT count(*) FROM checks").value();
        std::lock_guard lock(m);
        const bool said = notices.size() == 2 && notices[0].starts_with("History paused: ") &&
                          notices[1].starts_with("History resumed");
        ::_exit(w.dropped() > 0 && kept == 3001 - static_cast<std::int64_t>(w.dropped()) && said ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "mount namespaces are not allowed here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(HistoryTest, AWriterKilledMidWriteLeavesAnIntactStore) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HistoryWriter::Options o;
        o.path = path;
        o.batchEvery = 1ms;
        HistoryWriter w(std::move(o));
        if (!w.start()) {
            ::_exit(1);
        }
        for (std::int64_t t = kT0;; t += 1000) {
            w.record(check(kWeb, t, t % 3 != 0));
            if (t % 100'000 == 0) {
                std::this_thread::sleep_for(1ms);
            }
        }
    }
    ASSERT_TRUE(waitUntil([&] {
        try {
            return count("SELECT count(*) FROM checks") > 1000;
        } catch (const SqliteError&) {
            return false;
        }
    }));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    Database db(path, false, kLockWaitMs);
    Statement check = db.prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.step());
    EXPECT_EQ(check.text(0), "ok");
    check.reset();
}

TEST_F(HistoryTest, TwoWritersAtOnceLoseNothing) {
    const SeriesKey other{"/srv/daemon.vdm", "db", "ping", "10.0.0.5", 1};
    auto a = writer();
    auto b = writer();
    std::thread ta([&] {
        for (int i = 0; i < 3000; ++i) {
            a->record(check(kWeb, kT0 + i * 1000, true));
        }
    });
    for (int i = 0; i < 3000; ++i) {
        b->record(check(other, kT0 + i * 1000, i % 2 == 0));
    }
    ta.join();
    ASSERT_TRUE(a->flush());
    ASSERT_TRUE(b->flush());
    EXPECT_EQ(a->dropped() + b->dropped(), 0u);
    EXPECT_EQ(count("SELECT count(*) FROM checks"), 6000);
}

TEST_F(HistoryTest, AHostRenamedInTheDialogKeepsItsSeriesAndItsOutageStartsAtItsFirstFailure) {
    auto w = writer();
    ServerDoc doc;
    ServerItem host = webHost();
    doc.append(host);
    doc.fileName = dir.file("hosts.vdm");
    HistoryView view(doc, *w);
    view.refreshAllRows();
    view.checkApplied(0, host, AppliedCheck{100, false, 5ms, "", AppliedCheck::Change::None});
    view.checkApplied(0, host, AppliedCheck{110, false, 5ms, "Timed out", AppliedCheck::Change::WentDown});
    host.name = "www";
    host.address = "127.0.0.2";
    doc.replace(0, host);
    view.hostReplaced(0);
    view.checkApplied(0, host, AppliedCheck{120, true, 5ms, "", AppliedCheck::Change::WentUp});
    ASSERT_TRUE(w->flush());

    EXPECT_EQ(count("SELECT count(*) FROM series"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM checks JOIN series ON checks.series=series.id WHERE "
                    "series.name='www' AND series.address='127.0.0.2:80'"),
              3);
    // The text a probe could not give is the check type's own.
    HistoryReader reader(path, {});
    const RangeSummary s = reader.summary(
        reader.series(SeriesKey{documentKey(doc.fileName), "www", "tcp", "127.0.0.2:80", 1}).value(), 0,
        200'000);
    ASSERT_EQ(s.outages.size(), 1u);
    EXPECT_EQ(s.outages[0].start, 100'000);
    EXPECT_EQ(s.outages[0].end, 120'000);
    EXPECT_EQ(s.outages[0].reason, "Connection Failed");
}

TEST_F(HistoryTest, MutedAndFlappingTimeIsKeptWithinTheMonitoredTimeAndLeavesTheUptimeAlone) {
    now = 1'000'000;
    auto w = writer();
    ServerDoc doc;
    ServerItem host = webHost();
    doc.append(host);
    doc.fileName = dir.file("hosts.vdm");
    HistoryView view(doc, *w);
    view.refreshAllRows();
    const std::string document = documentKey(doc.fileName);
    w->monitoring(document, true, 1'000'000);
    const auto applied = [&](std::time_t at, bool muted, bool flapping) {
        AppliedCheck c{at, true, 5ms, "", AppliedCheck::Change::None};
        c.muted = muted;
        c.flapping = flapping;
        view.checkApplied(0, host, c);
    };
    applied(1000, false, false);
    applied(1060, true, false);
    // Flapping from here on, never ended: as a killed program leaves it.
    applied(1180, false, true);
    now = 1'300'000;
    w->monitoring(document, false, 1'300'000);
    ASSERT_TRUE(w->flush());

    HistoryReader reader(path, {});
    const RangeSummary s =
        reader.summary(reader.series(SeriesKey{document, "web", "tcp", "127.0.0.1:80", 1}).value(), 1'000'000,
                       1'600'000);
    EXPECT_EQ(s.mutedMs, 120'000);
    EXPECT_EQ(s.flappingMs, 120'000);
    EXPECT_EQ(s.uptime, 1.0);
}

}  // namespace
