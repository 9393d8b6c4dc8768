#include "metrics/NotificationCounts.h"

#include "core/HostLabels.h"

void NotificationCounts::count(const std::string& channel, bool sent) {
    std::lock_guard lock(mutex_);
    Outcomes& o = channels_[channel];
    ++(sent ? o.sent : o.failed);
}

void NotificationCounts::appendTo(std::string& out) const {
    std::map<std::string, Outcomes> channels;
    {
        std::lock_guard lock(mutex_);
        channels = channels_;
    }
    constexpr const char* kName = "vardomon_notifications_total";
    out += std::string("# HELP ") + kName + " Notifications to each channel by their final outcome.\n";
    out += std::string("# TYPE ") + kName + " counter\n";
    for (const auto& [channel, o] : channels) {
        const std::string labels = std::string(kName) + "{channel=\"" + escapeLabelValue(channel) + "\",outcome=\"";
        out += labels + "sent\"} " + std::to_string(o.sent) + '\n';
        out += labels + "failed\"} " + std::to_string(o.failed) + '\n';
    }
}
