#include "metrics/MetricsHttp.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "metrics/Exposition.h"

namespace {

// A stream over bytes already read: the request is read from them, the response collected.
class BufferedExchange final : public httplib::Stream {
  public:
    explicit BufferedExchange(std::string_view request) : request_(request) {}

    bool is_readable() const override { return offset_ < request_.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        const std::size_t n = std::min(size, request_.size() - offset_);
        std::memcpy(ptr, request_.data() + offset_, n);
        offset_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        response_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip.clear();
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip.clear();
        port = 0;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    std::string takeResponse() { return std::move(response_); }

  private:
    std::string_view request_;
    std::size_t offset_ = 0;
    std::string response_;
};

// What the response may be compressed with: gzip when the client takes it (Prometheus asks
// for it), else nothing. The library would choose brotli for any client that offers it,
// which at its strongest takes many seconds for a large exposition, and the server answers
// on one thread: a scrape behind it would wait, and so would the program's exit.
void offerOnlyGzip(httplib::Request& req) {
    bool gzip = false;
    for (auto [at, end] = req.headers.equal_range("Accept-Encoding"); at != end; ++at) {
        std::string value = at->second;
        std::transform(value.begin(), value.end(), value.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        gzip = gzip || value.find("gzip") != std::string::npos;
    }
    req.headers.erase("Accept-Encoding");
    if (gzip) {
        req.headers.emplace("Accept-Encoding", "gzip");
    }
}

constexpr const char* kIndexPage =
    "<html><head><title>Kestrune Vardomon</title></head>"
    "<body><h1>Kestrune Vardomon</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

}  // namespace

// The library's server without its sockets: only its request handling is used.
class MetricsHttp::Server : public httplib::Server {
  public:
    explicit Server(Render render) {
        set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            if (req.method == "GET") {
                return HandlerResponse::Unhandled;
            }
            res.status = 405;
            res.set_header("Allow", "GET");
            res.set_content("Only GET is answered here.\n", "text/plain; charset=utf-8");
            return HandlerResponse::Handled;
        });
        Get("/metrics", [render = std::move(render)](const httplib::Request&, httplib::Response& res) {
            res.set_content(render(), kExpositionContentType);
        });
        Get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kIndexPage, "text/html; charset=utf-8");
        });
    }

    std::string answer(std::string_view request) {
        BufferedExchange exchange(request);
        bool closed = false;
        process_request(exchange, true, closed, offerOnlyGzip);
        return exchange.takeResponse();
    }
};

MetricsHttp::MetricsHttp(Render render) : server_(std::make_unique<Server>(std::move(render))) {}

MetricsHttp::~MetricsHttp() = default;

std::string MetricsHttp::answer(std::string_view request) {
    // Lines of the head may end in a bare LF (a hand-typed request, some tools): the parser
    // takes only CR LF, so they are made CR LF; what follows the head stays as it came.
    const std::size_t crlfEnd = request.find("\r\n\r\n");
    const std::size_t lfEnd = request.find("\n\n");
    if (lfEnd == std::string_view::npos || (crlfEnd != std::string_view::npos && crlfEnd < lfEnd)) {
        return server_->answer(request);
    }
    std::string head;
    for (std::size_t i = 0; i < lfEnd + 2; ++i) {
        if (request[i] == '\n' && (i == 0 || request[i - 1] != '\r')) {
            head += '\r';
        }
        head += request[i];
    }
    head.append(request.substr(lfEnd + 2));
    return server_->answer(head);
}

std::string MetricsHttp::headTooLarge() {
    return "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}
