// What the certificates of a TLS handshake showed: the earliest expiry of the chain and the
// verifier's first complaint. Recorded by a verify callback, so it is known even when the
// verification fails, and turned into the failure texts of the checks.
#pragma once

#include <ctime>
#include <optional>
#include <string>

struct CertificateFindings {
    // The earliest notAfter among the certificates the server sent.
    std::optional<std::time_t> earliestExpiry;
    // The verifier's first error (an X509_V_ERR_ value), 0 when it found none.
    int verifyError = 0;
    // The notAfter of the certificate that error is about.
    std::time_t errorCertificateExpiry = 0;
    // Whether a handshake was seen at all.
    bool seen = false;
};

// Makes every handshake of connections made with this SSL_CTX record into findings, keeping
// the verification mode the context has. findings must outlive the context's handshakes.
void watchCertificates(void* sslCtx, CertificateFindings& findings);

// "YYYY-MM-DD" of a time, in UTC.
std::string utcDate(std::time_t time);

// "Certificate expired on ..." or "Certificate expires in N days (...)" when expiry is
// within warnDays of now; empty when not, or when warnDays is 0.
std::string expiryReason(std::time_t expiry, std::time_t now, int warnDays);

// The text of a verification failure: the name, an expiry, or the verifier's own words.
std::string verifyReason(const CertificateFindings& findings);
