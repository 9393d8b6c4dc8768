#include "ui/QuietMarks.h"

#include <QTimer>

namespace {

// Often enough that a mark goes within a minute of its mute's end.
constexpr int kRefreshMs = 30000;

}  // namespace

QString quietMark(const QuietState& state, std::time_t until, std::time_t now) {
    QString mark;
    if (state.muted) {
        mark = QStringLiteral("muted");
        if (until != 0) {
            std::tm end{};
            std::tm today{};
            localtime_r(&until, &end);
            localtime_r(&now, &today);
            char text[32];
            const bool sameDay = end.tm_yday == today.tm_yday && end.tm_year == today.tm_year;
            std::strftime(text, sizeof text, sameDay ? "%H:%M" : "%a %H:%M", &end);
            mark += QStringLiteral(" until ") + QString::fromLocal8Bit(text);
        }
    }
    if (state.flapping) {
        mark += mark.isEmpty() ? QStringLiteral("flapping") : QStringLiteral(", flapping");
    }
    return mark;
}

QuietRowsModel::QuietRowsModel(QAbstractItemModel* rows, std::function<QString(int)> mark, QObject* parent)
    : QIdentityProxyModel(parent), mark_(std::move(mark)) {
    setSourceModel(rows);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &QuietRowsModel::refresh);
    timer->start(kRefreshMs);
}

QVariant QuietRowsModel::data(const QModelIndex& index, int role) const {
    QVariant value = QIdentityProxyModel::data(index, role);
    if (index.column() != 0 || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
        return value;
    }
    const QString mark = mark_(index.row());
    if (mark.isEmpty()) {
        return value;
    }
    if (role == Qt::ToolTipRole) {
        return QStringLiteral("Alerts held: ") + mark;
    }
    return value.toString() + QStringLiteral("  \u2014 ") + mark;
}

void QuietRowsModel::refresh() {
    if (rowCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DisplayRole, Qt::ToolTipRole});
    }
}
