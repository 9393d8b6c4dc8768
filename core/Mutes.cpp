#include "core/Mutes.h"

#include <algorithm>
#include <cctype>

bool isMuted(const HostMutes& mutes, const std::string& host, std::time_t now) {
    return muteEnd(mutes, host, now).has_value();
}

std::optional<std::time_t> muteEnd(const HostMutes& mutes, const std::string& host, std::time_t now) {
    for (const HostMute& m : mutes) {
        if (m.host == host && (m.until == 0 || m.until > now)) {
            return m.until;
        }
    }
    return std::nullopt;
}

void muteHosts(HostMutes& mutes, const std::vector<std::string>& hosts, std::time_t until, std::time_t now) {
    std::erase_if(mutes, [&](const HostMute& m) {
        return (m.until != 0 && m.until <= now) ||
               std::find(hosts.begin(), hosts.end(), m.host) != hosts.end();
    });
    for (const std::string& host : hosts) {
        if (std::none_of(mutes.begin(), mutes.end(), [&](const HostMute& m) { return m.host == host; })) {
            mutes.push_back({host, until});
        }
    }
}

void unmuteHosts(HostMutes& mutes, const std::vector<std::string>& hosts) {
    std::erase_if(mutes, [&](const HostMute& m) {
        return std::find(hosts.begin(), hosts.end(), m.host) != hosts.end();
    });
}

std::time_t nextLocalHour(std::time_t now, int hour) {
    std::tm local{};
    localtime_r(&now, &local);
    const bool passed = local.tm_hour >= hour;
    local.tm_hour = hour;
    local.tm_min = 0;
    local.tm_sec = 0;
    if (passed) {
        ++local.tm_mday;
    }
    // Let the library decide on daylight saving for the new day.
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::optional<std::int64_t> parseSpan(const std::string& text) {
    constexpr std::int64_t kLongest = 100LL * 366 * 86400;
    if (text.size() < 2 ||
        !std::all_of(text.begin(), text.end() - 1, [](unsigned char c) { return std::isdigit(c) != 0; }) ||
        text.size() > 12) {
        return std::nullopt;
    }
    std::int64_t unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            return std::nullopt;
    }
    const std::int64_t count = std::stoll(text.substr(0, text.size() - 1));
    if (count == 0 || count > kLongest / unit) {
        return std::nullopt;
    }
    return count * unit;
}
