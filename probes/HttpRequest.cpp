#include "probes/HttpRequest.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "probes/TlsChannel.h"

namespace {

// libcurl's global set-up is done once and never undone: clients come and go on many
// threads, and the library is thread-safe after it.
void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("The HTTP library could not be initialised");
        }
    });
}

long asLong(std::chrono::milliseconds value) {
    return static_cast<long>(std::clamp<long long>(value.count(), 1, LONG_MAX));
}

struct Transfer {
    const HttpRequest* request;
    HttpResponse* response;
    // The trusted authorities of the client's connections, made at its first TLS connection.
    X509_STORE** trusted;
};

// The system's authorities from their hashed folder, each read when a chain needs it, and
// the caller's CA file.
X509_STORE* makeTrustStore(const std::string& caFile) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr || X509_STORE_load_path(store, systemCertificateDir()) != 1 ||
        (!caFile.empty() && X509_STORE_load_file(store, caFile.c_str()) != 1)) {
        X509_STORE_free(store);
        return nullptr;
    }
    // As libcurl sets its own store.
    X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_TRUSTED_FIRST);
    return store;
}

std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    std::string& body = transfer.response->body;
    const std::size_t room = transfer.request->maxBody - std::min(transfer.request->maxBody, body.size());
    body.append(data, std::min(bytes, room));
    if (bytes > room) {
        transfer.response->bodyCut = true;
    }
    return bytes;
}

// Gives the connection the client's store of trusted authorities (the system's and the
// caller's CA file), then lets the caller look at the context. One store serves every
// connection of the client: reading the authorities anew for each new connection costs
// more than its handshake. The client makes new handles, and a new store, for other trust.
CURLcode tuneTls(CURL* /*easy*/, void* sslCtx, void* user) {
    const auto& transfer = *static_cast<Transfer*>(user);
    const auto& request = *transfer.request;
    if (*transfer.trusted == nullptr) {
        *transfer.trusted = makeTrustStore(request.caFile);
        if (*transfer.trusted == nullptr) {
            return CURLE_SSL_CACERT_BADFILE;
        }
    }
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslCtx), *transfer.trusted);
    if (request.onTlsContext) {
        request.onTlsContext(sslCtx);
    }
    return CURLE_OK;
}

bool nameMismatch(const std::string& error) {
    return error.find("subject name") != std::string::npos || error.find("does not match") != std::string::npos;
}

HttpResponse::Failure failureOf(CURLcode code, const std::string& error) {
    using F = HttpResponse::Failure;
    switch (code) {
        case CURLE_OK:
            return F::None;
        case CURLE_COULDNT_CONNECT:
            return F::Refused;
        case CURLE_OPERATION_TIMEDOUT:
            return F::TimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
            return F::HostNotFound;
        case CURLE_TOO_MANY_REDIRECTS:
            return F::TooManyRedirects;
        case CURLE_PEER_FAILED_VERIFICATION:
            return nameMismatch(error) ? F::TlsNameMismatch : F::TlsNotTrusted;
        case CURLE_ABORTED_BY_CALLBACK:
            return F::Cancelled;
        default:
            return F::Other;
    }
}

struct HeaderList {
    curl_slist* head = nullptr;
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(head); }
    void add(const std::string& line) {
        curl_slist* next = curl_slist_append(head, line.c_str());
        if (next == nullptr) {
            throw std::bad_alloc();
        }
        head = next;
    }
};

// What decides whether a kept connection may serve the next request: a connection made
// with one CA file or verify setting must not carry a request that asked for another.
struct TlsTrust {
    bool verify = true;
    std::string caFile;
    bool operator==(const TlsTrust&) const = default;
};

}  // namespace

struct HttpClient::Handles {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    TlsTrust trust;
    X509_STORE* trusted = nullptr;

    Handles() {
        multi = curl_multi_init();
        easy = curl_easy_init();
        if (multi == nullptr || easy == nullptr) {
            drop();
            throw std::runtime_error("The HTTP library could not make a connection handle");
        }
    }
    ~Handles() { drop(); }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;

    void drop() {
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
        easy = nullptr;
        multi = nullptr;
        X509_STORE_free(trusted);
        trusted = nullptr;
    }
};

HttpClient::HttpClient() {
    initialiseOnce();
    handles_ = std::make_unique<Handles>();
}

HttpClient::~HttpClient() = default;

void HttpClient::cancel() {
    cancelled_ = true;
    std::lock_guard lock(handlesMutex_);
    curl_multi_wakeup(handles_->multi);
}

void HttpClient::resetCancel() {
    cancelled_ = false;
}

HttpResponse HttpClient::perform(const HttpRequest& request) {
    HttpResponse response;
    if (cancelled_) {
        response.failure = HttpResponse::Failure::Cancelled;
        response.error = "Cancelled";
        return response;
    }
    const TlsTrust trust{request.verifyTls, request.caFile};
    if (!(trust == handles_->trust)) {
        // Connections and TLS sessions are kept by the handles: new ones for new trust.
        auto fresh = std::make_unique<Handles>();
        fresh->trust = trust;
        std::lock_guard lock(handlesMutex_);
        handles_ = std::move(fresh);
    }
    CURL* easy = handles_->easy;
    curl_easy_reset(easy);

    Transfer transfer{&request, &response, &handles_->trusted};
    char error[CURL_ERROR_SIZE] = {};
    HeaderList headers;
    for (const std::string& line : request.headers) {
        headers.add(line);
    }

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, asLong(request.connectTimeout));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, asLong(request.totalTimeout));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Kestrune-Vardomon/" VARDO_VERSION);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    if (request.maxRedirects > 0) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, request.maxRedirects);
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, request.verifyTls ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, request.verifyTls ? 2L : 0L);
    // libcurl's own store is replaced at once (tuneTls): set it up without reading the
    // system's bundle.
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, systemCertificateDir());
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, tuneTls);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &transfer);
    if (request.onTlsContext) {
        // A resumed session skips the certificates the caller wants to see.
        curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }

    if (request.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.method == "POST" || request.method == "PUT") {
        if (request.method == "PUT") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PUT");
        }
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
        // Waiting for "100 Continue" only delays small bodies.
        headers.add("Expect:");
    } else if (request.method != "GET") {
        response.failure = HttpResponse::Failure::Other;
        response.error = "Unknown request method " + request.method;
        return response;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.head);

    CURLM* multi = handles_->multi;
    curl_multi_add_handle(multi, easy);
    CURLcode code = CURLE_OK;
    bool ended = false;
    while (!ended) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                ended = true;
            }
        }
        if (ended || running == 0) {
            break;
        }
        if (cancelled_) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        if (cancelled_) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    curl_multi_remove_handle(multi, easy);

    response.failure = failureOf(code, error);
    if (response.failure != HttpResponse::Failure::None) {
        response.error = code == CURLE_ABORTED_BY_CALLBACK ? "Cancelled"
                         : error[0] != '\0'                 ? std::string(error)
                                                            : std::string(curl_easy_strerror(code));
        response.body.clear();
        return response;
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response.status);
    char* finalUrl = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl != nullptr) {
        response.finalUrl = finalUrl;
    }
    return response;
}
