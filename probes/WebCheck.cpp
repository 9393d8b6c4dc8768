#include "probes/WebCheck.h"

#include <vector>

#include "core/CheckSettings.h"

namespace {

std::string failureText(const HttpResponse& response, const CertificateFindings& findings) {
    using Failure = HttpResponse::Failure;
    switch (response.failure) {
        case Failure::Refused:
            return "Connection refused";
        case Failure::TimedOut:
            return "Timed out";
        case Failure::HostNotFound:
            return "Host not found";
        case Failure::TooManyRedirects:
            return "Too many redirects";
        case Failure::TlsNameMismatch:
            return "Certificate name mismatch";
        case Failure::TlsNotTrusted:
            return findings.verifyError != 0 ? verifyReason(findings)
                                             : "Certificate not trusted: " + response.error;
        case Failure::Cancelled:
            return "Cancelled";
        case Failure::None:
        case Failure::Other:
            break;
    }
    return response.error.empty() ? std::string("The request failed") : response.error;
}

}  // namespace

WebCheckResult WebCheck::run(const ServerItem& item, const HostExtras& extras,
                             std::chrono::milliseconds connectTimeout, std::time_t now) {
    const HttpSettings http = httpSettingsOf(extras);
    const TlsSettings tls = tlsSettingsOf(extras);
    WebCheckResult result;
    const std::optional<std::vector<std::pair<long, long>>> accepted = parseStatusList(http.status);
    if (!accepted) {
        result.reason = "The accepted status codes cannot be read: " + http.status;
        return result;
    }

    HttpRequest request;
    request.method = http.method;
    request.url = cutAtNul(item.address);
    request.headers = headerLines(http.headers);
    request.connectTimeout = connectTimeout;
    request.totalTimeout = connectTimeout * 3;
    request.maxRedirects = http.redirects;
    request.verifyTls = tls.verify;
    request.caFile = tls.caFile;
    findings_ = CertificateFindings{};
    request.onTlsContext = [this](void* context) { watchCertificates(context, findings_); };

    // A cancel meant for an earlier check (the monitor halted, then started again) is over.
    client_.resetCancel();
    const HttpResponse response = client_.perform(request);

    if (findings_.seen && findings_.earliestExpiry) {
        expiryByUrl_[request.url] = *findings_.earliestExpiry;
    } else if (!findings_.seen) {
        if (const auto known = expiryByUrl_.find(request.url); known != expiryByUrl_.end()) {
            findings_.earliestExpiry = known->second;
        }
    }
    result.certificateExpiry = findings_.earliestExpiry;

    if (response.failure != HttpResponse::Failure::None) {
        result.reason = failureText(response, findings_);
        return result;
    }
    if (findings_.earliestExpiry) {
        result.reason = expiryReason(*findings_.earliestExpiry, now, tls.warnDays);
        if (!result.reason.empty()) {
            return result;
        }
    }
    if (!statusAccepted(*accepted, response.status)) {
        result.reason = "HTTP status " + std::to_string(response.status);
        return result;
    }
    const std::string expected = cutAtNul(item.recvText);
    if (!expected.empty()) {
        const bool found = response.body.find(expected) != std::string::npos;
        if (found == http.mustNotContain) {
            result.reason = found ? "Text found in the response" : "Text not found in the response";
            return result;
        }
    }
    result.ok = true;
    return result;
}
