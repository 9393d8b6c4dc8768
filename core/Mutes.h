// Mutes: a host's actions held for a while (a maintenance, a known outage) while its checks,
// counts and log go on. A mute names the host as the document does and ends at a time, or
// never until it is lifted.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct HostMute {
    std::string host;
    // When the mute ends (seconds since 1970, UTC); 0: when it is lifted.
    std::time_t until = 0;

    bool operator==(const HostMute&) const = default;
};

using HostMutes = std::vector<HostMute>;

// Whether the host named is muted at now.
bool isMuted(const HostMutes& mutes, const std::string& host, std::time_t now);
// When the host's mute ends (0: when lifted); nothing when it is not muted at now.
std::optional<std::time_t> muteEnd(const HostMutes& mutes, const std::string& host, std::time_t now);

// Mutes every host named until then (0: until lifted), replacing mutes they had; mutes that
// have ended by now are dropped on the way.
void muteHosts(HostMutes& mutes, const std::vector<std::string>& hosts, std::time_t until, std::time_t now);
// Lifts the mutes of the hosts named.
void unmuteHosts(HostMutes& mutes, const std::vector<std::string>& hosts);

// The next time the local clock shows hour:00 after now ("until tomorrow 08:00" when now is
// past 08:00, today's 08:00 when it is before).
std::time_t nextLocalHour(std::time_t now, int hour);

// A span such as "30m", "2h", "1d" or "90s" in seconds; nothing for any other text, zero or a
// span past a hundred years.
std::optional<std::int64_t> parseSpan(const std::string& text);
