// The history window over a generated year of one host: its uptime, outages, chart and CSV.
// With VARDO_HISTORY_SHOT set, the window is also saved there as a picture.
#include <QChartView>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <cmath>

#include "history/HistoryReader.h"
#include "history/RollUp.h"
#include "history/Schema.h"
#include "history/Sqlite.h"
#include "support/TempDir.h"
#include "ui/HistoryWindow.h"

namespace {

// 2026-06-01 00:00:00 UTC.
constexpr std::int64_t kNow = 1'780'272'000'000;
const SeriesKey kKey{"/srv/office.vdm", "Mail relay", "tcp", "10.0.0.25:25", 1};

void insertTier(Database& db, const char* table, std::int64_t size, std::int64_t from,
                std::int64_t checksPer) {
    Statement s = db.prepare(std::string("INSERT INTO ") + table + " VALUES(1,?,?,?,?,?,?,?)");
    for (std::int64_t t = from; t < kNow; t += size) {
        const double day = static_cast<double>(t % kDayMs) / kDayMs;
        // A daily swing, and a slow climb over the year.
        const double mean =
            18 + 6 * std::sin(day * 2 * M_PI) + 8.0 * static_cast<double>(t - from) / (365.0 * kDayMs);
        const std::int64_t bad = (t / size) % 97 == 0 ? 1 : 0;
        s.bind(1, t)
            .bind(2, checksPer - bad)
            .bind(3, bad)
            .bind(4, mean * 0.6)
            .bind(5, mean)
            .bind(6, mean * 2.2);
        s.bind(7, mean * 1.7).run();
    }
}

// A year at a check every 10 s, in the default tiers.
void generateYear(const std::string& path) {
    OpenedStore store = openForWriting(path);
    Database& db = *store.db;
    Transaction t(db);
    db.exec("INSERT INTO series VALUES(1, '/srv/office.vdm', 'Mail relay', 'tcp', '10.0.0.25:25', 1, 0)");
    insertTier(db, "hours", kHourMs, kNow - 365 * kDayMs, 360);
    insertTier(db, "minutes", kMinuteMs, kNow - 31 * kDayMs, 6);
    Statement raw = db.prepare("INSERT INTO checks VALUES(1,?,?,?,?)");
    for (std::int64_t at = kNow - kDayMs; at < kNow; at += 10'000) {
        const bool good = at < kNow - 30 * kMinuteMs;
        raw.bind(1, at).bind(2, std::int64_t{good ? 1 : 0}).bind(3, std::int64_t{15 + at / 10'000 % 7});
        if (good) {
            raw.bindNull(4);
        } else {
            raw.bind(4, std::string_view("Connection refused"));
        }
        raw.run();
    }
    // Monitored all year but for one day in February; three outages, the last going on.
    db.exec(("INSERT INTO spans(document, start, end) VALUES('/srv/office.vdm', " +
             std::to_string(kNow - 365 * kDayMs) + ", " + std::to_string(kNow - 110 * kDayMs) +
             "), ('/srv/office.vdm', " + std::to_string(kNow - 109 * kDayMs) + ", " + std::to_string(kNow) +
             ")")
                .c_str());
    db.exec(("INSERT INTO outages(series, start, end, reason) VALUES(1, " +
             std::to_string(kNow - 200 * kDayMs) + ", " + std::to_string(kNow - 200 * kDayMs + 3 * kHourMs) +
             ", 'Timed out'), (1, " + std::to_string(kNow - 9 * kDayMs) + ", " +
             std::to_string(kNow - 9 * kDayMs + 20 * kMinuteMs) + ", 'Connection refused'), (1, " +
             std::to_string(kNow - 30 * kMinuteMs) + ", NULL, 'Connection refused')")
                .c_str());
    t.commit();
}

}  // namespace

class HistoryWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void showsAYearOfOneHost() {
        TempDir dir;
        const std::string path = dir.file("history.sqlite");
        generateYear(path);
        HistoryWindow w(path, Retention{}, kKey, nullptr, [] { return kNow; });
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.setRangeIndex(4);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        const QString uptime = w.uptimeText();
        // 24 h: the last half hour down; 365 d: 3 h 50 min down of 364 monitored days.
        QVERIFY2(uptime.contains(QStringLiteral("24 hours: 97.917 %")), qPrintable(uptime));
        QVERIFY2(uptime.contains(QStringLiteral("1 year: 99.956 %")), qPrintable(uptime));
        QVERIFY2(uptime.contains(QStringLiteral("3 outages")), qPrintable(uptime));
        QVERIFY2(w.latencyText().contains(QStringLiteral("median")), qPrintable(w.latencyText()));
        QTableWidget* outages = w.outageTable();
        QCOMPARE(outages->rowCount(), 3);
        QCOMPARE(outages->item(0, 1)->text(), QStringLiteral("ongoing"));
        QCOMPARE(outages->item(2, 3)->text(), QStringLiteral("Timed out"));

        // The year comes from the hours: one line of CSV for each, and the heading.
        const std::string csv = dir.file("year.csv");
        QVERIFY(w.exportCsv(QString::fromStdString(csv)));
        const std::string text = readFileBytes(csv);
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), 365 * 24 + 1);

        if (const QByteArray shot = qgetenv("VARDO_HISTORY_SHOT"); !shot.isEmpty()) {
            QVERIFY(w.grab().save(QString::fromLocal8Bit(shot)));
        }
    }
};

QTEST_MAIN(HistoryWindowTest)
#include "HistoryWindowTest.moc"
