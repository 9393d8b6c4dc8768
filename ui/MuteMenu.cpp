#include "ui/MuteMenu.h"

#include <QAction>

#include "app/Application.h"
#include "core/Mutes.h"
#include "ui/MessageBox.h"

namespace {

constexpr std::time_t kHour = 3600;
constexpr int kMorning = 8;

}  // namespace

MuteMenu::MuteMenu(const QString& prefix, std::function<std::vector<std::string>()> hosts, Application& app,
                   QWidget* parent)
    : QMenu(QStringLiteral("M&ute Alerts"), parent), hosts_(std::move(hosts)), app_(app) {
    setObjectName(prefix);
    const auto entry = [this, &prefix](const char* name, const QString& text, auto until) {
        QAction* a = addAction(text);
        a->setObjectName(prefix + QLatin1String(name));
        connect(a, &QAction::triggered, this, [this, until] { apply(until(app_.now())); });
    };
    entry("1h", QStringLiteral("Mute for 1 hour"),
          [](std::time_t now) { return std::optional(now + kHour); });
    entry("4h", QStringLiteral("Mute for 4 hours"),
          [](std::time_t now) { return std::optional(now + 4 * kHour); });
    entry("Morning", QStringLiteral("Mute until tomorrow 08:00"),
          [](std::time_t now) { return std::optional(nextLocalHour(now, kMorning)); });
    entry("Ever", QStringLiteral("Mute until unmuted"),
          [](std::time_t) { return std::optional<std::time_t>(0); });
    addSeparator();
    entry("Off", QStringLiteral("Unmute"), [](std::time_t) { return std::optional<std::time_t>(); });
}

void MuteMenu::apply(std::optional<std::time_t> until) {
    const std::vector<std::string> hosts = hosts_();
    if (hosts.empty()) {
        return;
    }
    const std::time_t now = app_.now();
    const bool saved = app_.changeMutes([&](HostMutes& mutes) {
        if (until) {
            muteHosts(mutes, hosts, *until, now);
        } else {
            unmuteHosts(mutes, hosts);
        }
    });
    emit mutesChanged();
    if (!saved) {
        MessageBox::information(parentWidget(),
                                QStringLiteral("The mutes hold until the program ends, but could "
                                               "not be kept for the next start:\r\n") +
                                    QString::fromStdString(app_.settingsError()));
    }
}
