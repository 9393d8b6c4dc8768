// The settings that vardo.cfg has no field for: they live in settings.toml beside it. Every
// default is the behaviour without them, so a missing file or key changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Mutes.h"

// How the alert mail reaches its server.
enum class MailSecurity {
    None,      // the plain dialogue, no AUTH ever
    StartTls,  // plain greeting, then TLS after EHLO and STARTTLS
    Tls,       // TLS from the first byte
};

struct MailSettings {
    std::int32_t port = 25;
    MailSecurity security = MailSecurity::None;
    std::string user;
    // Either the password itself or a command whose standard output is the password.
    std::string password;
    std::string passwordCommand;
    // A file whose first line is the password (only its owner should read it), ahead of the
    // two above; a service's credential "mail-password" comes before all of them.
    std::string passwordFile;
    bool verifyCertificate = true;
    // An extra trusted certificate authority (PEM); the system store is always trusted.
    std::string caFile;

    bool operator==(const MailSettings&) const = default;
};

// How the monitor runs its checks.
struct MonitorSettings {
    static constexpr std::int32_t kMostChecksAtOnce = 256;

    // How many checks of a cycle may run at the same time; 1 checks one host after another.
    std::int32_t checksAtOnce = 1;
    // A host flaps when over this share (percent) of its recent checks changed its state, and
    // is stable again below flapStop; 0 never flaps.
    std::int32_t flapStart = 50;
    std::int32_t flapStop = 25;
    HostMutes mutes;

    bool operator==(const MonitorSettings&) const = default;
};

// Any number of checks at once as the monitor can use it: below 1 is 1, above the most is
// the most.
constexpr std::int32_t usableChecksAtOnce(long long wanted) {
    return wanted < 1                                    ? 1
           : wanted > MonitorSettings::kMostChecksAtOnce ? MonitorSettings::kMostChecksAtOnce
                                                         : static_cast<std::int32_t>(wanted);
}

// How the program lives on the desktop.
struct DesktopSettings {
    // A transition's message box also raises a desktop notification.
    bool notifications = true;
    // The tray icon, when the desktop has a tray.
    bool tray = true;
    // Closing the window hides it in the tray instead of ending the program.
    bool closeToTray = false;

    bool operator==(const DesktopSettings&) const = default;
};

// The Prometheus exposition: served only when listen names an address and a port.
struct MetricsSettings {
    // "127.0.0.1:9469", "[::1]:9469"; empty: no metrics.
    std::string listen;

    bool operator==(const MetricsSettings&) const = default;
};

// The history of every check: where it is kept and for how long each tier lives.
struct HistorySettings {
    bool enabled = true;
    // Empty: history.sqlite in the user's data folder (the service's state folder).
    std::string path;
    // Raw checks, per-minute and per-hour aggregates; per-day aggregates are kept for ever.
    std::int32_t keepChecksDays = 7;
    std::int32_t keepMinutesDays = 31;
    std::int32_t keepHoursDays = 400;

    bool operator==(const HistorySettings&) const = default;
};

// Where a channel delivers: the service that relays it to a phone, a chat or a hook.
enum class ChannelKind { Webhook, Ntfy, Gotify, Slack, Discord, Telegram, Matrix, Pushover };

// One [[channels]] entry: every down and up of the hosts it names goes there too.
struct ChannelSettings {
    std::string name;
    ChannelKind kind = ChannelKind::Webhook;
    std::string url;
    // The secret, or a command whose standard output is the secret.
    std::string token;
    std::string tokenCommand;
    std::string user;
    std::string chatId;
    std::string room;
    // The urgency of a down and a reminder; none: the kind's own.
    std::optional<std::int32_t> priority;
    // Extra request headers, name and value, in file order.
    std::vector<std::pair<std::string, std::string>> headers;
    // Host-name patterns with * and ?; none: every host.
    std::vector<std::string> hosts;
    // 0: no reminders.
    std::int32_t remindEveryMinutes = 0;

    bool operator==(const ChannelSettings&) const = default;
};

struct Settings {
    MailSettings mail;
    MonitorSettings monitor;
    DesktopSettings desktop;
    MetricsSettings metrics;
    HistorySettings history;
    // The usable entries, in file order.
    std::vector<ChannelSettings> channels;

    bool operator==(const Settings&) const = default;
};
