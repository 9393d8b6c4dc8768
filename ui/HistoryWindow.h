// The history of one host in a window of its own: latency over a chosen range (the mean
// inside its minimum-to-maximum band, failures and outages in red, unmonitored time in
// grey), its uptime, its outages, and the range as CSV. It reads the store on a connection
// of its own and follows new checks while it is open.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryTypes.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;
class HistoryReader;

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    // now: the calendar time in milliseconds; the system's when empty (tests give their own).
    HistoryWindow(std::string storePath, Retention keep, SeriesKey key, QWidget* parent = nullptr,
                  std::function<std::int64_t()> now = {});
    ~HistoryWindow() override;

    // Reads the shown range again (the live timer calls it).
    void reload();
    // Writes the shown range's buckets to path; false when the file cannot be written.
    bool exportCsv(const QString& path) const;
    QString uptimeText() const;
    QString latencyText() const;
    QTableWidget* outageTable() const { return outages_; }
    // The range shown, in milliseconds.
    std::int64_t rangeMs() const;
    void setRangeIndex(int index);

  private:
    void exportClicked();
    void drawChart(const std::vector<Aggregate>& points, const std::vector<Span>& monitored,
                   const std::vector<Outage>& outages, std::int64_t from, std::int64_t to);

    std::string path_;
    Retention keep_;
    SeriesKey key_;
    std::function<std::int64_t()> now_;
    std::unique_ptr<HistoryReader> reader_;
    std::vector<Aggregate> shown_;
    QComboBox* range_;
    QChart* chart_;
    QChartView* view_;
    QLabel* uptime_;
    QLabel* latency_;
    QLabel* error_;
    QTableWidget* outages_;
    QTimer* live_;
};

// The tooltip of a Monitor View row: the last latency and the 24-hour uptime; empty when the
// history has nothing of the host.
QString historyTooltip(const std::string& storePath, Retention keep, const SeriesKey& key);
