// The per-host settings of web checks and of TLS on TCP checks, read from and written to a
// host's extended settings. An absent key means its default, and a host that keeps every
// default carries no key at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/HostExtras.h"

enum class TlsMode { None, Tls, StartTlsSmtp, StartTlsImap, StartTlsPop3 };

struct TlsSettings {
    TlsMode mode = TlsMode::None;
    bool verify = true;
    // Trusted besides the system's store; empty for the store alone.
    std::string caFile;
    // A certificate of the chain that expires within this many days fails the check; 0 = off.
    std::int32_t warnDays = 14;
};

struct HttpSettings {
    // Accepted status codes: single codes and ranges, "200-299,301".
    std::string status = "200-399";
    bool mustNotContain = false;
    std::string method = "GET";
    std::int32_t redirects = 5;
    // One "Name: value" a line.
    std::string headers;
};

inline constexpr std::int32_t kMostRedirects = 5;

TlsSettings tlsSettingsOf(const HostExtras& extras);
HttpSettings httpSettingsOf(const HostExtras& extras);
// Write the settings into extras, removing each key whose value is the default; other keys
// stay as they are.
void storeTlsSettings(HostExtras& extras, const TlsSettings& settings);
void storeHttpSettings(HostExtras& extras, const HttpSettings& settings);

const char* tlsModeKey(TlsMode mode);

// The ranges of a status list ("200-299,301" gives {200,299},{301,301}); nothing when the
// list is malformed or empty.
std::optional<std::vector<std::pair<long, long>>> parseStatusList(const std::string& list);
bool statusAccepted(const std::vector<std::pair<long, long>>& ranges, long status);
// The non-empty lines of a header text, without their line ends.
std::vector<std::string> headerLines(const std::string& text);
