#include "alerts/ChannelMessage.h"

#include <array>
#include <cstdio>
#include <vector>

#include "alerts/Templates.h"
#include "core/ChannelRules.h"
#include "core/Utf8Text.h"

namespace {

const char* typeName(std::int8_t type) {
    switch (type) {
        case HostPing:
            return "ping";
        case HostService:
            return "service";
        default:
            return "tcp";
    }
}

ChannelMessage hostMessage(const ServerItem& item, ChannelEvent event, std::time_t time,
                           const std::string& title, const std::string& text) {
    ChannelMessage m;
    m.event = event;
    m.time = time;
    m.title = asUtf8(title);
    m.text = asUtf8(text.empty() ? title : text);
    m.host = ChannelHost{asUtf8(item.name), asUtf8(item.address), typeName(item.type)};
    m.consecutiveFailures = item.consecutiveFailures;
    return m;
}

std::string json(std::string_view utf8) {
    return quotedText(utf8);
}

// A JSON object from members whose values are already JSON.
std::string object(std::initializer_list<std::pair<const char*, std::string>> members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        out += (out.size() > 1 ? "," : "") + json(key) + ":" + value;
    }
    return out + "}";
}

const char* eventName(ChannelEvent event) {
    switch (event) {
        case ChannelEvent::Down:
            return "down";
        case ChannelEvent::Up:
            return "up";
        case ChannelEvent::Reminder:
            return "reminder";
        default:
            return "test";
    }
}

// A header value is one line of printable ASCII; anything else goes as an RFC 2047 word,
// which ntfy decodes.
std::string headerValue(std::string_view utf8) {
    bool plain = true;
    std::string clean;
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        clean += (c == '\r' || c == '\n') ? ' ' : c;
        plain = plain && u >= 0x20 && u < 0x7f;
    }
    if (plain) {
        return clean;
    }
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "=?UTF-8?B?";
    for (std::size_t i = 0; i < clean.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, clean.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            v = (v << 8) | (k < n ? static_cast<unsigned char>(clean[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3f] : '=';
        }
    }
    return out + "?=";
}

// A path segment: everything but the unreserved characters percent-encoded.
std::string segment(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(u));
            out += escaped;
        }
    }
    return out;
}

// A base URL keeps its path; only a slash at its end goes.
std::string joined(std::string base, std::string_view tail) {
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + std::string(tail);
}

std::vector<std::string_view> codePoints(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) {
            ++n;
        }
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

bool globMatches(std::string_view pattern, std::string_view name) {
    const std::vector<std::string_view> p = codePoints(pattern);
    const std::vector<std::string_view> s = codePoints(name);
    std::size_t pi = 0, si = 0, star = std::string_view::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == "?" || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (pi < p.size() && p[pi] == "*") {
            star = pi++;
            mark = si;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == "*") {
        ++pi;
    }
    return pi == p.size();
}

std::int32_t urgency(const ChannelSettings& channel, const ChannelMessage& message, std::int32_t down,
                     std::int32_t normal) {
    if (message.event == ChannelEvent::Down || message.event == ChannelEvent::Reminder) {
        return channel.priority.value_or(down);
    }
    return normal;
}

constexpr const char* kJson = "Content-Type: application/json";

}  // namespace

ChannelMessage downMessage(const ServerItem& item, std::time_t now) {
    return hostMessage(item, ChannelEvent::Down, now, "Server Down: " + item.name,
                       expandTemplate(item, item.notify.downMsg, now));
}

ChannelMessage upMessage(const ServerItem& item, std::time_t now) {
    return hostMessage(item, ChannelEvent::Up, now, "Server Up: " + item.name,
                       expandTemplate(item, item.notify.upMsg, now));
}

ChannelMessage reminderMessage(const ServerItem& item, std::time_t downSince, std::time_t now) {
    return hostMessage(item, ChannelEvent::Reminder, now, "Still Down: " + item.name,
                       "Still down since " + dateText(downSince) + ": " + item.name);
}

ChannelMessage testMessage(std::time_t now) {
    ChannelMessage m;
    m.event = ChannelEvent::Test;
    m.time = now;
    m.title = "Test notification";
    m.text = "A test notification from Kestrune Vardomon.";
    return m;
}

bool channelTakesHost(const ChannelSettings& channel, std::string_view utf8Name) {
    if (channel.hosts.empty()) {
        return true;
    }
    return std::any_of(channel.hosts.begin(), channel.hosts.end(),
                       [&](const std::string& pattern) { return globMatches(pattern, utf8Name); });
}

HttpRequest channelRequest(const ChannelSettings& channel, const std::string& token,
                           const ChannelMessage& message, const std::string& txn) {
    HttpRequest r;
    r.method = "POST";
    const std::string chat = message.title + "\n" + message.text;
    const bool urgent = message.event == ChannelEvent::Down || message.event == ChannelEvent::Reminder;
    switch (channel.kind) {
        case ChannelKind::Ntfy:
            r.url = channel.url;
            r.headers = {"Title: " + headerValue(message.title),
                         "Priority: " + std::to_string(urgency(channel, message, 5, 3)),
                         std::string("Tags: ") + (urgent ? "rotating_light" : "white_check_mark"),
                         "Content-Type: text/plain; charset=utf-8"};
            if (!token.empty()) {
                r.headers.push_back("Authorization: Bearer " + token);
            }
            r.body = message.text;
            break;
        case ChannelKind::Gotify:
            r.url = joined(channel.url, "/message");
            r.headers = {kJson, "X-Gotify-Key: " + token};
            r.body = object({{"title", json(message.title)},
                             {"message", json(message.text)},
                             {"priority", std::to_string(urgency(channel, message, 8, 5))}});
            break;
        case ChannelKind::Slack:
            r.url = channel.url;
            r.headers = {kJson};
            r.body = object({{"text", json(chat)}});
            break;
        case ChannelKind::Discord:
            r.url = channel.url;
            r.headers = {kJson};
            r.body = object({{"content", json(chat)}});
            break;
        case ChannelKind::Telegram:
            r.url = joined(channel.url.empty() ? "https://api.telegram.org" : channel.url,
                           "/bot" + token + "/sendMessage");
            r.headers = {kJson};
            r.body =
                object({{"chat_id", isWholeNumber(channel.chatId) ? channel.chatId : json(channel.chatId)},
                        {"text", json(chat)}});
            break;
        case ChannelKind::Matrix:
            r.method = "PUT";
            r.url = joined(channel.url, "/_matrix/client/v3/rooms/" + segment(channel.room) +
                                            "/send/m.room.message/" + segment(txn));
            r.headers = {kJson, "Authorization: Bearer " + token};
            r.body = object({{"msgtype", json("m.text")}, {"body", json(chat)}});
            break;
        case ChannelKind::Pushover:
            r.url =
                joined(channel.url.empty() ? "https://api.pushover.net/1" : channel.url, "/messages.json");
            r.headers = {kJson};
            r.body = object({{"token", json(token)},
                             {"user", json(channel.user)},
                             {"title", json(message.title)},
                             {"message", json(message.text)},
                             {"priority", std::to_string(urgency(channel, message, 1, 0))}});
            break;
        case ChannelKind::Webhook: {
            r.url = channel.url;
            r.headers = {kJson};
            for (const auto& [name, value] : channel.headers) {
                r.headers.push_back(name + ": " + value);
            }
            std::string host = "null";
            if (message.host) {
                host = object({{"name", json(message.host->name)},
                               {"address", json(message.host->address)},
                               {"type", json(message.host->type)}});
            }
            r.body = object({{"event", json(eventName(message.event))},
                             {"time", json(utcTimestamp(message.time))},
                             {"title", json(message.title)},
                             {"text", json(message.text)},
                             {"host", host},
                             {"consecutive_failures", std::to_string(message.consecutiveFailures)}});
            break;
        }
    }
    return r;
}

std::string withoutSecret(std::string text, const std::string& secret) {
    if (secret.empty()) {
        return text;
    }
    for (const std::string& form : {secret, segment(secret)}) {
        for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at)) {
            text.replace(at, form.size(), "***");
        }
    }
    return text;
}
