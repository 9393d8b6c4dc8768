// The program in the desktop's tray (StatusNotifierItem on current desktops): a lamp for the
// worst state of all hosts, a tooltip that counts them, and a menu with Show, Start/Stop,
// Check Now and Exit. The window's own actions serve the menu, so their texts follow it.
#pragma once

#include <QObject>
#include <QString>

#include "core/HostSummary.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject {
    Q_OBJECT
  public:
    TrayIcon(QAction* startStop, QAction* checkNow, QAction* exit, QObject* parent);
    ~TrayIcon() override;

    // Shows the icon when wanted, as soon as the desktop has a tray; hides it otherwise.
    void setWanted(bool wanted);
    // Whether the icon is in a tray now: only then can the window close into it.
    bool isShown() const;

    // muted: how many hosts have their alerts muted.
    void update(const HostTally& tally, bool running, int muted = 0);
    Lamp lamp() const { return lamp_; }
    QString toolTip() const;
    QMenu* menu() const { return menu_; }

  signals:
    // Show, or a click on the icon.
    void showWindow();

  private:
    QMenu* menu_;
    QSystemTrayIcon* icon_;
    Lamp lamp_ = Lamp::Grey;
};
