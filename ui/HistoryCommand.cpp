#include "ui/HistoryCommand.h"

#include <QAbstractItemView>
#include <QAction>
#include <QHelpEvent>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QToolTip>

#include "app/Application.h"
#include "ui/HistoryWindow.h"

HistoryCommand::HistoryCommand(Application& app, QWidget* window, QMenu* menu, QAbstractItemView* results,
                               std::function<std::optional<std::size_t>()> selected)
    : QObject(window), app_(app), window_(window), results_(results) {
    action_ = new QAction(QStringLiteral("&History..."), window);
    action_->setObjectName(QStringLiteral("mnuHistory"));
    action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    menu->addAction(action_);
    results->setContextMenuPolicy(Qt::ActionsContextMenu);
    results->addAction(action_);
    results->viewport()->installEventFilter(this);
    connect(action_, &QAction::triggered, this, [this, selected = std::move(selected)] {
        if (const std::optional<std::size_t> index = selected()) {
            open(*index);
        }
    });
}

QWidget* HistoryCommand::open(std::size_t index) {
    const std::optional<SeriesKey> key = app_.historySeries(index);
    if (!key) {
        if (auto* main = qobject_cast<QMainWindow*>(window_)) {
            main->statusBar()->showMessage(
                QStringLiteral("No history is kept (see [history] in settings.toml)"), 5000);
        }
        return nullptr;
    }
    // A window of its own, not owned by the main window's layout: several may be open.
    auto* w = new HistoryWindow(app_.historyPath(), app_.historyRetention(), *key, window_);
    w->show();
    return w;
}

bool HistoryCommand::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == results_->viewport()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex at = results_->indexAt(help->pos());
        const std::optional<SeriesKey> key =
            at.isValid() ? app_.historySeries(static_cast<std::size_t>(at.row())) : std::nullopt;
        const QString tip =
            key ? historyTooltip(app_.historyPath(), app_.historyRetention(), *key) : QString();
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, results_->viewport());
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}
