#include "ui/HistoryWindow.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <chrono>

#include "history/HistoryReader.h"
#include "history/Sqlite.h"
#include "ui/FileDialog.h"

namespace {

constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kDay = 24 * kHour;

struct RangeChoice {
    const char* text;
    std::int64_t ms;
};
constexpr RangeChoice kRanges[] = {{"1 hour", kHour},
                                   {"24 hours", kDay},
                                   {"7 days", 7 * kDay},
                                   {"30 days", 30 * kDay},
                                   {"1 year", 365 * kDay}};

std::int64_t systemNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QString timeText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString durationText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    if (s < 3600) {
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    }
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

QString percent(const std::optional<double>& ratio) {
    return ratio ? QString::number(*ratio * 100, 'f', 3) + QStringLiteral(" %") : QStringLiteral("no data");
}

// A red or grey block over the whole height of the chart, from a to b.
QAreaSeries* block(QChart* chart, std::int64_t a, std::int64_t b, double top, const QColor& colour) {
    auto* lower = new QLineSeries(chart);
    auto* upper = new QLineSeries(chart);
    lower->append(static_cast<double>(a), 0);
    lower->append(static_cast<double>(b), 0);
    upper->append(static_cast<double>(a), top);
    upper->append(static_cast<double>(b), top);
    auto* area = new QAreaSeries(upper, lower);
    area->setColor(colour);
    area->setBorderColor(colour);
    return area;
}

}  // namespace

HistoryWindow::HistoryWindow(std::string storePath, Retention keep, SeriesKey key, QWidget* parent,
                             std::function<std::int64_t()> now)
    : QWidget(parent, Qt::Window),
      path_(std::move(storePath)),
      keep_(keep),
      key_(std::move(key)),
      now_(now ? std::move(now) : systemNow) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("History of %1").arg(QString::fromStdString(key_.name)));
    resize(900, 640);

    range_ = new QComboBox(this);
    range_->setObjectName(QStringLiteral("cboRange"));
    for (const RangeChoice& r : kRanges) {
        range_->addItem(QString::fromLatin1(r.text));
    }
    range_->setCurrentIndex(1);
    auto* exportButton = new QPushButton(QStringLiteral("Export CSV..."), this);
    exportButton->setObjectName(QStringLiteral("btnExportCsv"));
    auto* top = new QHBoxLayout;
    top->addWidget(
        new QLabel(QStringLiteral("%1 (%2, %3)")
                       .arg(QString::fromStdString(key_.name), QString::fromStdString(key_.address),
                            QString::fromStdString(key_.type)),
                   this),
        1);
    top->addWidget(range_);
    top->addWidget(exportButton);

    chart_ = new QChart;
    chart_->legend()->hide();
    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);
    // Drag to zoom into a part of the range; a right click zooms out again.
    view_->setRubberBand(QChartView::HorizontalRubberBand);

    uptime_ = new QLabel(this);
    uptime_->setObjectName(QStringLiteral("lblUptime"));
    latency_ = new QLabel(this);
    latency_->setObjectName(QStringLiteral("lblLatency"));
    error_ = new QLabel(this);
    error_->setStyleSheet(QStringLiteral("color: #b00020"));
    error_->hide();

    outages_ = new QTableWidget(0, 4, this);
    outages_->setObjectName(QStringLiteral("tblOutages"));
    outages_->setHorizontalHeaderLabels({QStringLiteral("Start"), QStringLiteral("End"),
                                         QStringLiteral("Duration"), QStringLiteral("Reason")});
    outages_->horizontalHeader()->setStretchLastSection(true);
    outages_->verticalHeader()->hide();
    outages_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(view_);
    split->addWidget(outages_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({420, 140});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(error_);
    layout->addWidget(uptime_);
    layout->addWidget(latency_);
    layout->addWidget(split, 1);

    connect(range_, &QComboBox::currentIndexChanged, this, [this] { reload(); });
    connect(exportButton, &QPushButton::clicked, this, &HistoryWindow::exportClicked);
    live_ = new QTimer(this);
    live_->setInterval(5000);
    connect(live_, &QTimer::timeout, this, &HistoryWindow::reload);
    live_->start();
    reload();
}

HistoryWindow::~HistoryWindow() = default;

QString HistoryWindow::uptimeText() const {
    return uptime_->text();
}

QString HistoryWindow::latencyText() const {
    return latency_->text();
}

std::int64_t HistoryWindow::rangeMs() const {
    return kRanges[std::clamp(range_->currentIndex(), 0, static_cast<int>(std::size(kRanges)) - 1)].ms;
}

void HistoryWindow::setRangeIndex(int index) {
    range_->setCurrentIndex(index);
}

void HistoryWindow::reload() {
    const std::int64_t to = now_();
    const std::int64_t from = to - rangeMs();
    try {
        if (!reader_) {
            reader_ = std::make_unique<HistoryReader>(path_, keep_);
        }
        const std::optional<std::int64_t> id = reader_->series(key_);
        if (!id) {
            throw SqliteError(SQLITE_NOTFOUND, "nothing is kept of this host yet");
        }
        QStringList uptimes;
        for (const RangeChoice& r : {kRanges[1], kRanges[2], kRanges[3], kRanges[4]}) {
            uptimes << QStringLiteral("%1: %2").arg(QString::fromLatin1(r.text),
                                                    percent(reader_->uptime(*id, to - r.ms, to)));
        }
        const RangeSummary shown = reader_->summary(*id, from, to);
        uptime_->setText(QStringLiteral("Uptime  %1   —   %2 outages, %3 down in the range")
                             .arg(uptimes.join(QStringLiteral(", ")))
                             .arg(shown.outages.size())
                             .arg(durationText(shown.downMs)));
        latency_->setText(shown.latency
                              ? QStringLiteral("Latency  median %1 ms, 95th percentile %2 ms, maximum %3 ms")
                                    .arg(shown.latency->p50, 0, 'f', 1)
                                    .arg(shown.latency->p95, 0, 'f', 1)
                                    .arg(shown.latency->max, 0, 'f', 1)
                              : QStringLiteral("Latency  no good check in the range"));
        outages_->setRowCount(static_cast<int>(shown.outages.size()));
        for (std::size_t i = 0; i < shown.outages.size(); ++i) {
            const Outage& o = shown.outages[shown.outages.size() - 1 - i];
            const int row = static_cast<int>(i);
            outages_->setItem(row, 0, new QTableWidgetItem(timeText(o.start)));
            outages_->setItem(row, 1,
                              new QTableWidgetItem(o.end ? timeText(*o.end) : QStringLiteral("ongoing")));
            outages_->setItem(row, 2, new QTableWidgetItem(durationText(o.end.value_or(to) - o.start)));
            outages_->setItem(row, 3, new QTableWidgetItem(QString::fromStdString(o.reason)));
        }
        shown_ = reader_->points(*id, from, to);
        drawChart(shown_, reader_->monitored(*id, from, to), shown.outages, from, to);
        error_->hide();
    } catch (const SqliteError& e) {
        reader_.reset();
        error_->setText(QStringLiteral("No history: %1").arg(QString::fromUtf8(e.what())));
        error_->show();
    }
}

void HistoryWindow::drawChart(const std::vector<Aggregate>& points, const std::vector<Span>& monitored,
                              const std::vector<Outage>& outages, std::int64_t from, std::int64_t to) {
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes()) {
        chart_->removeAxis(axis);
        delete axis;
    }
    double top = 1;
    for (const Aggregate& a : points) {
        top = std::max(top, a.max.value_or(0));
    }
    top *= 1.1;

    std::vector<QAbstractSeries*> series;
    // Unmonitored time: the gaps between the spans.
    std::int64_t at = from;
    for (const Span& s : monitored) {
        if (s.start > at) {
            series.push_back(block(chart_, at, s.start, top, QColor(200, 200, 200, 160)));
        }
        at = std::max(at, s.end);
    }
    if (at < to && !monitored.empty()) {
        series.push_back(block(chart_, at, to, top, QColor(200, 200, 200, 160)));
    }
    for (const Outage& o : outages) {
        series.push_back(
            block(chart_, std::max(o.start, from), o.end.value_or(to), top, QColor(220, 40, 40, 90)));
    }
    auto* lo = new QLineSeries(chart_);
    auto* hi = new QLineSeries(chart_);
    auto* mean = new QLineSeries(chart_);
    auto* failed = new QScatterSeries(chart_);
    failed->setColor(QColor(220, 40, 40));
    failed->setMarkerSize(5);
    for (const Aggregate& a : points) {
        const auto x = static_cast<double>(a.start);
        if (a.mean) {
            lo->append(x, *a.min);
            hi->append(x, *a.max);
            mean->append(x, *a.mean);
        }
        if (a.bad > 0) {
            failed->append(x, top * 0.97);
        }
    }
    auto* band = new QAreaSeries(hi, lo);
    band->setColor(QColor(60, 120, 220, 70));
    band->setBorderColor(QColor(60, 120, 220, 70));
    mean->setColor(QColor(20, 70, 170));
    series.push_back(band);
    series.push_back(mean);
    series.push_back(failed);
    connect(mean, &QLineSeries::hovered, this, [this](const QPointF& p, bool state) {
        if (state) {
            QToolTip::showText(QCursor::pos(),
                               QStringLiteral("%1\nmean %2 ms")
                                   .arg(timeText(static_cast<std::int64_t>(p.x())))
                                   .arg(p.y(), 0, 'f', 1),
                               view_);
        }
    });

    auto* x = new QDateTimeAxis;
    x->setFormat(rangeMs() <= kDay ? QStringLiteral("HH:mm") : QStringLiteral("MMM d"));
    x->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    auto* y = new QValueAxis;
    y->setRange(0, top);
    y->setLabelFormat(QStringLiteral("%.0f"));
    y->setTitleText(QStringLiteral("ms"));
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : series) {
        chart_->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

bool HistoryWindow::exportCsv(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    auto opt = [](const std::optional<double>& v) { return v ? QString::number(*v, 'f', 1) : QString(); };
    QString text = QStringLiteral("start,good,bad,min_ms,mean_ms,max_ms,p95_ms\r\n");
    for (const Aggregate& a : shown_) {
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7\r\n")
                    .arg(QDateTime::fromMSecsSinceEpoch(a.start, Qt::UTC).toString(Qt::ISODate))
                    .arg(a.good)
                    .arg(a.bad)
                    .arg(opt(a.min), opt(a.mean), opt(a.max), opt(a.p95));
    }
    return file.write(text.toUtf8()) >= 0 && file.flush();
}

void HistoryWindow::exportClicked() {
    const QString path = FileDialog::getSaveFileName(this, QStringLiteral("CSV Files|*.csv"));
    if (!path.isEmpty() && !exportCsv(path)) {
        error_->setText(QStringLiteral("Cannot write %1").arg(path));
        error_->show();
    }
}

QString historyTooltip(const std::string& storePath, Retention keep, const SeriesKey& key) {
    try {
        HistoryReader reader(storePath, keep);
        const std::optional<std::int64_t> id = reader.series(key);
        const std::optional<Aggregate> last = id ? reader.lastCheck(*id) : std::nullopt;
        if (!last) {
            return {};
        }
        const std::int64_t now = systemNow();
        const std::optional<double> day = reader.uptime(*id, now - kDay, now);
        return QStringLiteral("Last check: %1 ms%2\nUptime (24 h): %3")
            .arg(*last->mean, 0, 'f', 0)
            .arg(last->bad > 0 ? QStringLiteral(" (failed)") : QString())
            .arg(percent(day));
    } catch (const SqliteError&) {
        return {};
    }
}
