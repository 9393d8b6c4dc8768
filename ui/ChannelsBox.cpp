#include "ui/ChannelsBox.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>

#include "alerts/ChannelSender.h"
#include "core/ChannelRules.h"
#include "ui/BusyCall.h"
#include "ui/ChannelDialog.h"
#include "ui/MessageBox.h"

namespace {

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

ChannelsBox::ChannelsBox(QWidget* parent) : QGroupBox(QStringLiteral("Notification Channels"), parent) {
    setObjectName(QStringLiteral("gbChannels"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstChannels"));
    list_->setMaximumHeight(list_->fontMetrics().lineSpacing() * 5);
    auto* add = button(QStringLiteral("Add"), "btnChannelAdd", this);
    auto* edit = button(QStringLiteral("Edit"), "btnChannelEdit", this);
    auto* remove = button(QStringLiteral("Remove"), "btnChannelRemove", this);
    test_ = button(QStringLiteral("Send Test"), "btnChannelTest", this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add, edit, remove, test_}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &ChannelsBox::add);
    connect(edit, &QPushButton::clicked, this, &ChannelsBox::edit);
    connect(list_, &QListWidget::itemDoubleClicked, this, &ChannelsBox::edit);
    connect(remove, &QPushButton::clicked, this, &ChannelsBox::remove);
    connect(test_, &QPushButton::clicked, this, &ChannelsBox::sendTest);
}

bool ChannelsBox::editInDialog(ChannelSettings& channel, const std::vector<std::string>& takenNames) {
    if (dialog_ == nullptr) {
        dialog_ = new ChannelDialog(this);
    }
    dialog_->load(channel, takenNames);
    if (dialog_->exec() != QDialog::Accepted) {
        return false;
    }
    channel = dialog_->channel();
    return true;
}

void ChannelsBox::setConfig(LiveConfig& cfg) {
    cfg_ = &cfg;
    refill(0);
}

void ChannelsBox::refill(int select) {
    list_->clear();
    if (cfg_ == nullptr) {
        return;
    }
    for (const ChannelSettings& c : cfg_->extra().channels) {
        list_->addItem(QString::fromStdString(c.name) + QStringLiteral(" (") +
                       QString::fromLatin1(channelKindName(c.kind)) + QLatin1Char(')'));
    }
    list_->setCurrentRow(std::min(select, list_->count() - 1));
}

std::optional<int> ChannelsBox::current() const {
    const int row = list_->currentRow();
    if (cfg_ == nullptr || row < 0 || row >= static_cast<int>(cfg_->extra().channels.size())) {
        return std::nullopt;
    }
    return row;
}

void ChannelsBox::add() {
    if (cfg_ == nullptr) {
        return;
    }
    std::vector<std::string> taken;
    for (const ChannelSettings& c : cfg_->extra().channels) {
        taken.push_back(c.name);
    }
    ChannelSettings channel;
    if (!editInDialog(channel, taken)) {
        return;
    }
    int row = 0;
    cfg_->updateExtra([&](Settings& s) {
        s.channels.push_back(channel);
        row = static_cast<int>(s.channels.size()) - 1;
    });
    refill(row);
}

void ChannelsBox::edit() {
    const std::optional<int> row = current();
    if (!row) {
        return;
    }
    const std::vector<ChannelSettings> channels = cfg_->extra().channels;
    std::vector<std::string> taken;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (static_cast<int>(i) != *row) {
            taken.push_back(channels[i].name);
        }
    }
    ChannelSettings channel = channels[static_cast<std::size_t>(*row)];
    if (!editInDialog(channel, taken)) {
        return;
    }
    cfg_->updateExtra([&](Settings& s) {
        if (static_cast<std::size_t>(*row) < s.channels.size()) {
            s.channels[static_cast<std::size_t>(*row)] = channel;
        }
    });
    refill(*row);
}

void ChannelsBox::remove() {
    const std::optional<int> row = current();
    if (!row) {
        return;
    }
    cfg_->updateExtra([&](Settings& s) {
        if (static_cast<std::size_t>(*row) < s.channels.size()) {
            s.channels.erase(s.channels.begin() + *row);
        }
    });
    refill(*row);
}

void ChannelsBox::sendTest() {
    const std::optional<int> row = current();
    if (!row) {
        return;
    }
    const ChannelSettings channel = cfg_->extra().channels[static_cast<std::size_t>(*row)];
    // The service may take its time; the window stays alive meanwhile.
    test_->setEnabled(false);
    const ChannelTestResult result =
        callWhileBusy([&channel] { return sendChannelTest(channel, std::time(nullptr)); });
    test_->setEnabled(true);
    if (result.sent) {
        MessageBox::information(this, QString::fromStdString(result.text));
    } else {
        MessageBox::error(this, QString::fromStdString(result.text));
    }
}
