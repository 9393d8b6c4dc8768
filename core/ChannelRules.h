// What a notification channel needs to be usable, whoever made it: the settings file or the
// channel dialog.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/Settings.h"

struct ChannelFault {
    // The key at fault ("url"), to say where it is.
    const char* key;
    // What is wrong, naming the key, never quoting a value.
    std::string what;
};

// The longest pause between reminders: a year.
inline constexpr std::int32_t kMostRemindMinutes = 525600;

// The first thing that keeps the channel from working; none when it is usable.
std::optional<ChannelFault> channelFault(const ChannelSettings& channel);

// The kind's name in the file ("ntfy"), and back.
const char* channelKindName(ChannelKind kind);
bool channelKindNamed(std::string_view name, ChannelKind& kind);

// A chat id given as a number ("-1001"), which goes as a number.
bool isWholeNumber(std::string_view text);
