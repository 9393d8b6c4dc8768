// The notification channels in the Configuration View: the list of settings.toml's channels
// with Add, Edit, Remove and Send Test. Changes reach the live settings at once and the file
// when the program closes, as every option does.
#pragma once

#include <QGroupBox>
#include <optional>
#include <string>
#include <vector>

#include "core/LiveConfig.h"
#include "core/Settings.h"

class QListWidget;
class QPushButton;
class ChannelDialog;

class ChannelsBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit ChannelsBox(QWidget* parent = nullptr);

    // The settings it shows and changes; the list follows them from now on.
    void setConfig(LiveConfig& cfg);

  private:
    void refill(int select);
    // Shows the channel in the dialog; false when the user cancelled.
    bool editInDialog(ChannelSettings& channel, const std::vector<std::string>& takenNames);
    std::optional<int> current() const;
    void add();
    void edit();
    void remove();
    void sendTest();

    LiveConfig* cfg_ = nullptr;
    ChannelDialog* dialog_ = nullptr;
    QListWidget* list_;
    QPushButton* test_;
};
