// "Mute Alerts": mutes the actions of some hosts for 1 hour, 4 hours, until 08:00 or until
// unmuted, or lifts their mutes. Which hosts is asked when an entry is chosen (the selected
// ones, or all of them); the mutes go to settings.toml at once.
#pragma once

#include <QMenu>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Application;

class MuteMenu : public QMenu {
    Q_OBJECT
  public:
    // prefix names the entries (prefix + "1h", "4h", "Morning", "Ever", "Off"), so that each
    // of the menus holding one can be told apart.
    MuteMenu(const QString& prefix, std::function<std::vector<std::string>()> hosts, Application& app,
             QWidget* parent);

  signals:
    void mutesChanged();

  private:
    // until: when the mutes end (0: until lifted); nothing lifts them.
    void apply(std::optional<std::time_t> until);

    std::function<std::vector<std::string>()> hosts_;
    Application& app_;
};
