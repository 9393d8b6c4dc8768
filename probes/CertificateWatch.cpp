#include "probes/CertificateWatch.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

int findingsIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

std::optional<std::time_t> notAfterOf(const X509* certificate) {
    std::tm tm{};
    const ASN1_TIME* notAfter = certificate != nullptr ? X509_get0_notAfter(certificate) : nullptr;
    if (notAfter == nullptr || ASN1_TIME_to_tm(notAfter, &tm) != 1) {
        return std::nullopt;
    }
    return timegm(&tm);
}

int recordCertificate(int preverifyOk, X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    SSL_CTX* context = ssl != nullptr ? SSL_get_SSL_CTX(ssl) : nullptr;
    auto* findings = context != nullptr
                         ? static_cast<CertificateFindings*>(SSL_CTX_get_ex_data(context, findingsIndex()))
                         : nullptr;
    if (findings == nullptr) {
        return preverifyOk;
    }
    findings->seen = true;
    // The certificates the server sent (a root from the trust store is none of them), all
    // of them at every call: a failed verification stops before it has seen each one.
    STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(store);
    for (int i = 0; sent != nullptr && i < sk_X509_num(sent); ++i) {
        const std::optional<std::time_t> expiry = notAfterOf(sk_X509_value(sent, i));
        if (expiry && (!findings->earliestExpiry || *expiry < *findings->earliestExpiry)) {
            findings->earliestExpiry = expiry;
        }
    }
    const std::optional<std::time_t> expiry = notAfterOf(X509_STORE_CTX_get_current_cert(store));
    if (preverifyOk == 0 && findings->verifyError == 0) {
        findings->verifyError = X509_STORE_CTX_get_error(store);
        findings->errorCertificateExpiry = expiry.value_or(0);
    }
    return preverifyOk;
}

}  // namespace

void watchCertificates(void* sslCtx, CertificateFindings& findings) {
    auto* context = static_cast<SSL_CTX*>(sslCtx);
    SSL_CTX_set_ex_data(context, findingsIndex(), &findings);
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), recordCertificate);
}

std::string utcDate(std::time_t time) {
    std::tm tm{};
    gmtime_r(&time, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

std::string expiryReason(std::time_t expiry, std::time_t now, int warnDays) {
    if (warnDays <= 0) {
        return {};
    }
    if (expiry <= now) {
        return "Certificate expired on " + utcDate(expiry);
    }
    const std::time_t days = (expiry - now) / kDay;
    if (days >= warnDays) {
        return {};
    }
    return "Certificate expires in " + std::to_string(days) + (days == 1 ? " day (" : " days (") +
           utcDate(expiry) + ")";
}

std::string verifyReason(const CertificateFindings& findings) {
    switch (findings.verifyError) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "Certificate name mismatch";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "Certificate expired on " + utcDate(findings.errorCertificateExpiry);
        default:
            return std::string("Certificate not trusted: ") +
                   X509_verify_cert_error_string(findings.verifyError);
    }
}
