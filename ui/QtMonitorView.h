// The monitor's view in the window. The monitor thread's calls are queued to the GUI thread
// (Qt::QueuedConnection keeps their order) and applied there in batches: successive updates
// of one row merge into one, the host rows are rebuilt once however often they were asked
// for, and only the last status text is shown. However fast the checks run, the window
// applies at most one batch per turn of its event loop and stays responsive.
#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/MonitorView.h"
#include "core/Vardo.h"
#include "ui/RowModels.h"

class QtMonitorView : public QObject, public MonitorView {
    Q_OBJECT
  public:
    QtMonitorView(ResultGridModel& results, HostGridModel& hosts, QObject* parent = nullptr);

    // The document the grids show; set once, before the first rebuild.
    void setDocument(const ServerDoc& doc) { doc_ = &doc; }

    // GUI thread: applies what is pending, then rebuilds both grids from the document.
    void refreshAllRows() override;
    // Any thread; queued when called from the monitor thread.
    void refreshHostRows() override;
    void markRowChecking(std::size_t row) override;
    void showRowCounts(std::size_t row, const ServerItem& item) override;
    void showRowStatus(std::size_t row, const ServerItem& item) override;
    void setStatusText(const std::string& text) override;

    QString statusText() const { return status_; }
    // Applies the pending updates now (GUI thread).
    void flush();
    // How many batches were applied (for measurements).
    std::size_t batches() const { return batches_; }

  signals:
    void statusTextChanged(const QString& text);

  private:
    // The cells, icon and colour one update sets in a result row.
    struct RowPatch {
        std::size_t row = 0;
        std::optional<int> icon;
        std::optional<RowColour> colour;
        std::optional<std::string> status;
        std::optional<std::string> good;
        std::optional<std::string> bad;
        void mergeFrom(const RowPatch& later);
    };

    bool onGuiThread() const;
    void post(const RowPatch& patch);
    // Queues a flush unless one is queued already (called with the lock held).
    void scheduleLocked();
    void rebuildHostRows();
    void showStatus(const QString& text);
    std::vector<ServerItem> items() const;

    const ServerDoc* doc_ = nullptr;
    ResultGridModel& results_;
    HostGridModel& hosts_;
    QString status_ = QStringLiteral("Idle");
    std::size_t batches_ = 0;

    std::mutex mutex_;
    std::vector<RowPatch> patches_;
    bool hostRowsWanted_ = false;
    std::optional<std::string> statusWanted_;
    bool flushQueued_ = false;
};
