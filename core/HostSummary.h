// The whole list at a glance, for the tray: how many hosts are in each state and the one lamp
// that stands for all of them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/Vardo.h"

struct HostTally {
    std::size_t up = 0;         // the latest check succeeded
    std::size_t failing = 0;    // the latest check failed, within the failures allowed
    std::size_t down = 0;       // more consecutive failures than allowed
    std::size_t unchecked = 0;  // not checked yet

    bool operator==(const HostTally&) const = default;
};

// The worst state first: a stopped monitor tells nothing about its hosts.
enum class Lamp { Grey, Red, Yellow, Green };

HostTally tallyHosts(const std::vector<ServerItem>& items);
// Red if any host is down, yellow if any failed, green otherwise; grey while stopped.
Lamp lampFor(const HostTally& tally, bool running);
// Two lines: the program and whether it monitors, then the counts.
std::string summaryText(const HostTally& tally, bool running);
