// HTTP and HTTPS requests over libcurl, for the web checks and the notification channels.
// One client holds one connection cache, so a client used again for the same server reuses
// its connection. A client serves one thread at a time; cancel() may come from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct HttpRequest {
    // GET, HEAD, POST or PUT.
    std::string method = "GET";
    // http:// or https:// only; IPv6 literals in brackets.
    std::string url;
    // Extra request headers, each "Name: value".
    std::vector<std::string> headers;
    // Sent as is for POST and PUT (name its type in headers).
    std::string body;
    std::chrono::milliseconds connectTimeout{10000};
    // The whole request, redirects included.
    std::chrono::milliseconds totalTimeout{30000};
    // How many redirects are followed; 0 follows none (a redirect is then the answer).
    long maxRedirects = 0;
    bool verifyTls = true;
    // Trusted besides the system's store; empty for the store alone.
    std::string caFile;
    // Bytes of the response body kept; the rest is read and dropped.
    std::size_t maxBody = std::size_t{1} << 20;
    // Called with the OpenSSL SSL_CTX of each new TLS connection, after the client has set
    // it up, for callers that look at the certificates themselves.
    std::function<void(void* sslCtx)> onTlsContext;
};

struct HttpResponse {
    enum class Failure {
        None,              // an answer came; status holds its code
        Refused,           // the connection was refused or the host unreachable
        TimedOut,          // a time limit ran out
        HostNotFound,      // the name did not resolve
        TooManyRedirects,  // more redirects than maxRedirects
        TlsNotTrusted,     // the certificate failed verification
        TlsNameMismatch,   // the certificate is not for the host name
        Cancelled,         // cancel() ended it
        Other,             // anything else; error says what
    };
    Failure failure = Failure::None;
    // libcurl's words for a failure, never holding the request's headers.
    std::string error;
    long status = 0;
    std::string body;
    // The body was longer than maxBody.
    bool bodyCut = false;
    // The URL that answered, after redirects.
    std::string finalUrl;
};

class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sends the request and waits for its answer, its failure or a cancel.
    HttpResponse perform(const HttpRequest& request);
    // Ends the request under way at once, and every later one until resetCancel(); safe
    // from any thread.
    void cancel();
    void resetCancel();

  private:
    struct Handles;
    // Replaced when a request asks for other trust than the kept connections were made
    // with; cancel() reaches them under the lock.
    std::mutex handlesMutex_;
    std::unique_ptr<Handles> handles_;
    std::atomic<bool> cancelled_{false};
};
