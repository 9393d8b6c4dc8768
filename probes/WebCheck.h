// The web check: one HTTP(S) request to the URL of a host, judged by its status, its body
// and the certificates of the connection. Every failure is a result with its reason.
#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "core/HostExtras.h"
#include "core/Vardo.h"
#include "probes/CertificateWatch.h"
#include "probes/HttpRequest.h"

struct WebCheckResult {
    bool ok = false;
    // Why it failed, in the words the log and the status bar show.
    std::string reason;
    // The earliest expiry of the certificates the server sent, when a handshake gave them.
    std::optional<std::time_t> certificateExpiry;
};

class WebCheck {
  public:
    WebCheck() = default;
    WebCheck(const WebCheck&) = delete;
    WebCheck& operator=(const WebCheck&) = delete;

    // The connect is bounded by connectTimeout and the whole request by three times it.
    WebCheckResult run(const ServerItem& item, const HostExtras& extras,
                       std::chrono::milliseconds connectTimeout, std::time_t now);
    // Ends a waiting request at once; safe from any thread.
    void cancel() { client_.cancel(); }

  private:
    // Declared before the client: the client's connections point at it until they close.
    CertificateFindings findings_;
    HttpClient client_;
    // A reused connection makes no handshake: its certificates are the ones its URL's
    // connection showed the last time.
    std::map<std::string, std::time_t> expiryByUrl_;
};
