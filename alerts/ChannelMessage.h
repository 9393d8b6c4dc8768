// What a channel is told, and the request each kind of service expects for it. Pure: no
// network, no clock, so every kind's request can be checked byte for byte.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "core/Settings.h"
#include "core/Vardo.h"
#include "probes/HttpRequest.h"

enum class ChannelEvent { Down, Up, Reminder, Test };

struct ChannelHost {
    std::string name;     // UTF-8
    std::string address;  // UTF-8
    const char* type = "tcp";  // "tcp", "ping" or "service"
};

struct ChannelMessage {
    ChannelEvent event = ChannelEvent::Test;
    // The check's time (a reminder's and a test's: when it was made).
    std::time_t time = 0;
    std::string title;  // UTF-8
    std::string text;   // UTF-8
    // None in a test.
    std::optional<ChannelHost> host;
    std::int64_t consecutiveFailures = 0;
};

// "Server Down: <name>" with the host's down template as text, expanded as for its message
// box (the title when the template is empty).
ChannelMessage downMessage(const ServerItem& item, std::time_t now);
ChannelMessage upMessage(const ServerItem& item, std::time_t now);
// "Still Down: <name>", "Still down since <date text>: <name>".
ChannelMessage reminderMessage(const ServerItem& item, std::time_t downSince, std::time_t now);
ChannelMessage testMessage(std::time_t now);

// Whether the channel's hosts patterns take this host name (* any run, ? one character,
// case-sensitive); no patterns take every host.
bool channelTakesHost(const ChannelSettings& channel, std::string_view utf8Name);

// The request for one message. token: the secret, already read from the file or its
// command; txn: a transaction id unique to this message (Matrix's idempotency key).
HttpRequest channelRequest(const ChannelSettings& channel, const std::string& token, const ChannelMessage& message,
                           const std::string& txn);

// The text with every occurrence of the secret, as it is and as a URL carries it, blotted
// out: what libcurl says may quote a URL that holds a token.
std::string withoutSecret(std::string text, const std::string& secret);
