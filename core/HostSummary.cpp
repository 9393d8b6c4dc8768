#include "core/HostSummary.h"

HostTally tallyHosts(const std::vector<ServerItem>& items) {
    HostTally t;
    for (const ServerItem& item : items) {
        // The rows' rule: a success is green, too many consecutive failures red.
        if (item.status == StatusSuccess) {
            ++t.up;
        } else if (item.consecutiveFailures > item.failuresAllowed) {
            ++t.down;
        } else if (item.consecutiveFailures > 0) {
            ++t.failing;
        } else {
            // Nothing counted against it and no success: the host has not been checked.
            ++t.unchecked;
        }
    }
    return t;
}

Lamp lampFor(const HostTally& tally, bool running) {
    if (!running) {
        return Lamp::Grey;
    }
    if (tally.down > 0) {
        return Lamp::Red;
    }
    if (tally.failing > 0) {
        return Lamp::Yellow;
    }
    return Lamp::Green;
}

std::string summaryText(const HostTally& tally, bool running) {
    std::string text = running ? "Kestrune Vardomon: monitoring" : "Kestrune Vardomon: stopped";
    text += "\n" + std::to_string(tally.up) + " up, " + std::to_string(tally.failing) + " failing, " +
            std::to_string(tally.down) + " down";
    if (tally.unchecked > 0) {
        text += ", " + std::to_string(tally.unchecked) + " not checked yet";
    }
    return text;
}
