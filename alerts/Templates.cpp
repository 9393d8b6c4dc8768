#include "alerts/Templates.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char*, 7> kWeekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string dateText(std::time_t time) {
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr) {
        return "<current time>";
    }
    // The names are written by hand: strftime would follow the locale, and the C library's
    // own date text pads the day with a blank.
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
        return "<current time>";
    }
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %04lld",
                                kWeekdays[static_cast<std::size_t>(local.tm_wday)],
                                kMonths[static_cast<std::size_t>(local.tm_mon)], local.tm_mday, local.tm_hour,
                                local.tm_min, local.tm_sec, static_cast<long long>(local.tm_year) + 1900);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return "<current time>";
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string expandTemplate(const ServerItem& item, const std::string& text, std::time_t time) {
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char ch = text[i];
        if (ch != '%') {
            out += ch;
            ++i;
            continue;
        }
        if (i + 1 >= n) {
            break;
        }
        const char code = text[i + 1];
        switch (code) {
            case 's':
                out += item.name;
                break;
            case 'p':
                out += std::to_string(item.tcpPort);
                break;
            case 'a':
                out += item.address;
                break;
            case 't':
                out += dateText(time);
                break;
            case '%':
                out += '%';
                break;
            default:
                out += '%';
                out += code;
                break;
        }
        i += 2;
    }
    return out;
}

std::vector<std::string> splitList(std::string text, char delimiter) {
    std::vector<std::string> items;
    std::string current;
    for (const char ch : text) {
        if (ch == delimiter) {
            items.push_back(std::move(current));
            current.clear();
        } else {
            current += ch;
        }
    }
    if (!current.empty()) {
        items.push_back(std::move(current));
    }
    return items;
}

std::string utcTimestamp(std::time_t time) {
    std::tm utc{};
    char text[32] = "1970-01-01T00:00:00Z";
    if (gmtime_r(&time, &utc) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    return text;
}
