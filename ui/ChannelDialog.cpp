#include "ui/ChannelDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <algorithm>

#include "core/ChannelRules.h"
#include "ui/MessageBox.h"

namespace {

// The priority spinner's lowest value stands for the kind's own.
constexpr int kKindsOwnPriority = -3;

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QString utf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::string trimmed(const QString& text) {
    return text.trimmed().toStdString();
}

}  // namespace

ChannelDialog::ChannelDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ChannelDialog"));
    setWindowTitle(QStringLiteral("Notification Channel"));
    name_ = named(new QLineEdit(this), "txtChannelName");
    kind_ = named(new QComboBox(this), "cboChannelKind");
    for (int kind = 0; kind <= static_cast<int>(ChannelKind::Pushover); ++kind) {
        kind_->addItem(QString::fromLatin1(channelKindName(static_cast<ChannelKind>(kind))));
    }
    url_ = named(new QLineEdit(this), "txtChannelUrl");
    url_->setPlaceholderText(QStringLiteral("https://..."));
    token_ = named(new QLineEdit(this), "txtChannelToken");
    token_->setEchoMode(QLineEdit::Password);
    tokenCommand_ = named(new QLineEdit(this), "txtChannelTokenCommand");
    user_ = named(new QLineEdit(this), "txtChannelUser");
    chatId_ = named(new QLineEdit(this), "txtChannelChatId");
    room_ = named(new QLineEdit(this), "txtChannelRoom");
    priority_ = named(new QSpinBox(this), "spChannelPriority");
    priority_->setRange(kKindsOwnPriority, 10);
    priority_->setSpecialValueText(QStringLiteral("The kind's own"));
    hosts_ = named(new QLineEdit(this), "txtChannelHosts");
    hosts_->setPlaceholderText(QStringLiteral("every host; or web-*, db?"));
    remind_ = named(new QSpinBox(this), "spChannelRemind");
    remind_->setRange(0, kMostRemindMinutes);
    remind_->setSpecialValueText(QStringLiteral("Never"));
    remind_->setSuffix(QStringLiteral(" min"));
    headers_ = named(new QPlainTextEdit(this), "txtChannelHeaders");
    headers_->setPlaceholderText(QStringLiteral("X-Team: ops"));
    headers_->setMaximumHeight(headers_->fontMetrics().lineSpacing() * 4);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name:"), name_);
    form->addRow(QStringLiteral("Kind:"), kind_);
    form->addRow(QStringLiteral("URL:"), url_);
    form->addRow(QStringLiteral("Token:"), token_);
    form->addRow(QStringLiteral("Token command:"), tokenCommand_);
    form->addRow(QStringLiteral("User key (Pushover):"), user_);
    form->addRow(QStringLiteral("Chat id (Telegram):"), chatId_);
    form->addRow(QStringLiteral("Room (Matrix):"), room_);
    form->addRow(QStringLiteral("Down priority:"), priority_);
    form->addRow(QStringLiteral("Hosts:"), hosts_);
    form->addRow(QStringLiteral("Remind every:"), remind_);
    form->addRow(QStringLiteral("Headers (webhook):"), headers_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ChannelDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ChannelDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void ChannelDialog::load(const ChannelSettings& c, std::vector<std::string> takenNames) {
    taken_ = std::move(takenNames);
    loaded_ = c;
    name_->setText(utf8(c.name));
    kind_->setCurrentIndex(static_cast<int>(c.kind));
    url_->setText(utf8(c.url));
    token_->setText(utf8(c.token));
    tokenCommand_->setText(utf8(c.tokenCommand));
    user_->setText(utf8(c.user));
    chatId_->setText(utf8(c.chatId));
    room_->setText(utf8(c.room));
    priority_->setValue(c.priority.value_or(kKindsOwnPriority));
    QStringList hosts;
    for (const std::string& h : c.hosts) {
        hosts << utf8(h);
    }
    hosts_->setText(hosts.join(QStringLiteral(", ")));
    remind_->setValue(c.remindEveryMinutes);
    QStringList headers;
    for (const auto& [header, value] : c.headers) {
        headers << utf8(header + ": " + value);
    }
    headers_->setPlainText(headers.join(QLatin1Char('\n')));
    name_->setFocus();
}

ChannelSettings ChannelDialog::channel() const {
    ChannelSettings c = loaded_;
    c.name = trimmed(name_->text());
    c.kind = static_cast<ChannelKind>(kind_->currentIndex());
    c.url = trimmed(url_->text());
    c.token = token_->text().toStdString();
    c.tokenCommand = trimmed(tokenCommand_->text());
    c.user = trimmed(user_->text());
    c.chatId = trimmed(chatId_->text());
    c.room = trimmed(room_->text());
    c.priority.reset();
    if (priority_->value() != kKindsOwnPriority) {
        c.priority = priority_->value();
    }
    c.hosts.clear();
    for (const QString& h : hosts_->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!h.trimmed().isEmpty()) {
            c.hosts.push_back(trimmed(h));
        }
    }
    c.remindEveryMinutes = remind_->value();
    c.headers.clear();
    for (const QString& line : headers_->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        c.headers.emplace_back(trimmed(line.left(colon)), colon < 0 ? std::string() : trimmed(line.mid(colon + 1)));
    }
    return c;
}

void ChannelDialog::accept() {
    const ChannelSettings c = channel();
    if (std::find(taken_.begin(), taken_.end(), c.name) != taken_.end()) {
        MessageBox::error(this, QStringLiteral("Another channel is already named ") + utf8(c.name) + '.');
        return;
    }
    if (const std::optional<ChannelFault> fault = channelFault(c)) {
        MessageBox::error(this, utf8(fault->what) + '.');
        return;
    }
    QDialog::accept();
}
