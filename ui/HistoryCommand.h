// "History..." in the window: the menu item (Ctrl+H) beside the host commands, the same item
// in the Monitor View's context menu, and the history in the tooltip of its rows. Each use
// opens a history window of its own for the selected host.
#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <optional>

class Application;
class QAbstractItemView;
class QAction;
class QMenu;
class QWidget;

class HistoryCommand : public QObject {
    Q_OBJECT
  public:
    // selected: the host the command is for (the first selected row of the grid in use).
    HistoryCommand(Application& app, QWidget* window, QMenu* menu, QAbstractItemView* results,
                   std::function<std::optional<std::size_t>()> selected);

    QAction* action() const { return action_; }
    // Opens the window for host index; nullptr when no history is kept of it.
    QWidget* open(std::size_t index);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Application& app_;
    QWidget* window_;
    QAbstractItemView* results_;
    QAction* action_;
};
