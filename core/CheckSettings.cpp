#include "core/CheckSettings.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr std::array<std::pair<TlsMode, const char*>, 5> kModes{{
    {TlsMode::None, "none"},
    {TlsMode::Tls, "tls"},
    {TlsMode::StartTlsSmtp, "starttls-smtp"},
    {TlsMode::StartTlsImap, "starttls-imap"},
    {TlsMode::StartTlsPop3, "starttls-pop3"},
}};

const std::string* find(const HostExtras& extras, const char* key) {
    const auto it = extras.find(key);
    return it == extras.end() ? nullptr : &it->second;
}

// A whole non-negative number, or nothing.
std::optional<long> number(std::string_view text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

void put(HostExtras& extras, const char* key, const std::string& value, bool isDefault) {
    if (isDefault) {
        extras.erase(key);
    } else {
        extras[key] = value;
    }
}

}  // namespace

const char* tlsModeKey(TlsMode mode) {
    for (const auto& [m, key] : kModes) {
        if (m == mode) {
            return key;
        }
    }
    return "none";
}

TlsSettings tlsSettingsOf(const HostExtras& extras) {
    TlsSettings s;
    if (const std::string* mode = find(extras, "tls.mode")) {
        for (const auto& [m, key] : kModes) {
            if (*mode == key) {
                s.mode = m;
            }
        }
    }
    if (const std::string* verify = find(extras, "tls.verify")) {
        s.verify = *verify != "0";
    }
    if (const std::string* ca = find(extras, "tls.ca_file")) {
        s.caFile = *ca;
    }
    if (const std::string* days = find(extras, "tls.warn_days")) {
        if (const std::optional<long> n = number(*days); n && *n <= 36500) {
            s.warnDays = static_cast<std::int32_t>(*n);
        }
    }
    return s;
}

HttpSettings httpSettingsOf(const HostExtras& extras) {
    HttpSettings s;
    if (const std::string* status = find(extras, "http.status")) {
        s.status = *status;
    }
    if (const std::string* invert = find(extras, "http.must_not_contain")) {
        s.mustNotContain = *invert == "1";
    }
    if (const std::string* method = find(extras, "http.method"); method && *method == "HEAD") {
        s.method = "HEAD";
    }
    if (const std::string* redirects = find(extras, "http.redirects")) {
        if (const std::optional<long> n = number(*redirects)) {
            s.redirects = static_cast<std::int32_t>(std::min<long>(*n, kMostRedirects));
        }
    }
    if (const std::string* headers = find(extras, "http.headers")) {
        s.headers = *headers;
    }
    return s;
}

void storeTlsSettings(HostExtras& extras, const TlsSettings& s) {
    const TlsSettings d;
    put(extras, "tls.mode", tlsModeKey(s.mode), s.mode == d.mode);
    put(extras, "tls.verify", "0", s.verify);
    put(extras, "tls.ca_file", s.caFile, s.caFile.empty());
    put(extras, "tls.warn_days", std::to_string(s.warnDays), s.warnDays == d.warnDays);
}

void storeHttpSettings(HostExtras& extras, const HttpSettings& s) {
    const HttpSettings d;
    put(extras, "http.status", s.status, s.status == d.status);
    put(extras, "http.must_not_contain", "1", !s.mustNotContain);
    put(extras, "http.method", s.method, s.method == d.method);
    put(extras, "http.redirects", std::to_string(s.redirects), s.redirects == d.redirects);
    put(extras, "http.headers", s.headers, s.headers.empty());
}

std::optional<std::vector<std::pair<long, long>>> parseStatusList(const std::string& list) {
    std::vector<std::pair<long, long>> ranges;
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = trimmed(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const std::size_t dash = part.find('-');
        const std::optional<long> low = number(trimmed(part.substr(0, dash)));
        const std::optional<long> high =
            dash == std::string_view::npos ? low : number(trimmed(part.substr(dash + 1)));
        if (!low || !high || *low > *high) {
            return std::nullopt;
        }
        ranges.emplace_back(*low, *high);
    }
    if (ranges.empty()) {
        return std::nullopt;
    }
    return ranges;
}

bool statusAccepted(const std::vector<std::pair<long, long>>& ranges, long status) {
    for (const auto& [low, high] : ranges) {
        if (status >= low && status <= high) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> headerLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // A control byte in a header would let a document split the request.
        const bool clean = std::none_of(line.begin(), line.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f;
        });
        if (clean && !trimmed(line).empty()) {
            lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}
