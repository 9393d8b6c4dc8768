#include "metrics/MetricsHttp.h"

#include <httplib.h>

#include <algorithm>
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
        process_request(exchange, true, closed, [](httplib::Request&) {});
        return exchange.takeResponse();
    }
};

MetricsHttp::MetricsHttp(Render render) : server_(std::make_unique<Server>(std::move(render))) {}

MetricsHttp::~MetricsHttp() = default;

std::string MetricsHttp::answer(std::string_view request) {
    return server_->answer(request);
}

std::string MetricsHttp::headTooLarge() {
    return "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}
