// The dialog of one notification channel: its name, kind, address, secret and the rest of
// its [[channels]] entry. OK takes only a channel that can work, under a name of its own.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "core/Settings.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

class ChannelDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ChannelDialog(QWidget* parent = nullptr);

    // Shows the channel; takenNames are those of the other channels.
    void load(const ChannelSettings& channel, std::vector<std::string> takenNames);
    ChannelSettings channel() const;

    void accept() override;

  private:
    std::vector<std::string> taken_;
    // What the dialog does not show stays as it was.
    ChannelSettings loaded_;
    QLineEdit* name_;
    QComboBox* kind_;
    QLineEdit* url_;
    QLineEdit* token_;
    QLineEdit* tokenCommand_;
    QLineEdit* user_;
    QLineEdit* chatId_;
    QLineEdit* room_;
    QSpinBox* priority_;
    QLineEdit* hosts_;
    QSpinBox* remind_;
    QPlainTextEdit* headers_;
};
