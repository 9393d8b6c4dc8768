#include "core/ChannelRules.h"

#include <algorithm>

namespace {

constexpr const char* kKindNames[] = {"webhook", "ntfy",     "gotify", "slack",
                                      "discord", "telegram", "matrix", "pushover"};

bool isHttpUrl(std::string_view url) {
    return url.starts_with("http://") || url.starts_with("https://");
}

// A header's name is a token and neither part may break the request into more lines.
bool isHeaderName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return c > ' ' && c < 0x7f && c != ':' && c != '(' && c != ')' && c != ',' && c != ';' && c != '"';
    });
}

bool isHeaderValue(std::string_view value) {
    return std::none_of(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// The priorities each kind's service knows.
std::optional<std::pair<int, int>> priorityRange(ChannelKind kind) {
    switch (kind) {
        case ChannelKind::Ntfy:
            return std::pair{1, 5};
        case ChannelKind::Gotify:
            return std::pair{0, 10};
        case ChannelKind::Pushover:
            return std::pair{-2, 2};
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<ChannelFault> channelFault(const ChannelSettings& c) {
    if (c.name.empty()) {
        return ChannelFault{"name", "name must give the channel a name"};
    }
    const bool defaultUrl = c.kind == ChannelKind::Telegram || c.kind == ChannelKind::Pushover;
    if ((!c.url.empty() || !defaultUrl) && !isHttpUrl(c.url)) {
        return ChannelFault{"url", "url must be an http:// or https:// address"};
    }
    const bool needsToken = c.kind == ChannelKind::Gotify || c.kind == ChannelKind::Telegram ||
                            c.kind == ChannelKind::Matrix || c.kind == ChannelKind::Pushover;
    if (needsToken && c.token.empty() && c.tokenCommand.empty()) {
        return ChannelFault{"token", "token (or token_command) is needed for this kind"};
    }
    if (c.kind == ChannelKind::Pushover && c.user.empty()) {
        return ChannelFault{"user", "user (the Pushover user key) is needed"};
    }
    if (c.kind == ChannelKind::Telegram && c.chatId.empty()) {
        return ChannelFault{"chat_id", "chat_id is needed for telegram"};
    }
    if (c.kind == ChannelKind::Matrix && c.room.empty()) {
        return ChannelFault{"room", "room (the room id) is needed for matrix"};
    }
    if (const auto range = priorityRange(c.kind);
        range && c.priority && (*c.priority < range->first || *c.priority > range->second)) {
        return ChannelFault{"priority", "priority must be a whole number from " + std::to_string(range->first) +
                                            " to " + std::to_string(range->second)};
    }
    if (c.remindEveryMinutes < 0 || c.remindEveryMinutes > kMostRemindMinutes) {
        return ChannelFault{"remind_every_minutes",
                            "remind_every_minutes must be a whole number from 0 to " +
                                std::to_string(kMostRemindMinutes)};
    }
    for (const auto& [name, value] : c.headers) {
        if (!isHeaderName(name) || !isHeaderValue(value)) {
            return ChannelFault{"headers", "headers must name each header plainly and give it a one-line text"};
        }
    }
    return std::nullopt;
}

bool isWholeNumber(std::string_view s) {
    if (s.starts_with('-')) {
        s.remove_prefix(1);
    }
    return !s.empty() && s.size() < 16 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const char* channelKindName(ChannelKind kind) {
    const auto i = static_cast<std::size_t>(kind);
    return i < std::size(kKindNames) ? kKindNames[i] : "webhook";
}

bool channelKindNamed(std::string_view name, ChannelKind& kind) {
    for (std::size_t i = 0; i < std::size(kKindNames); ++i) {
        if (name == kKindNames[i]) {
            kind = static_cast<ChannelKind>(i);
            return true;
        }
    }
    return false;
}
