// The answer to one HTTP request, through cpp-httplib's request parser, router and response
// writer: GET /metrics gets the exposition, GET / a short page naming it, any other method
// 405 and any other path 404. Every answer closes the connection. The bytes come from the
// server's own bounded reads (metrics/MetricsServer.h), since the library's socket loop
// sets no limit on the size of a request head nor on the time a client may take to send it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class MetricsHttp {
  public:
    using Render = std::function<std::string()>;

    explicit MetricsHttp(Render render);
    ~MetricsHttp();
    MetricsHttp(const MetricsHttp&) = delete;
    MetricsHttp& operator=(const MetricsHttp&) = delete;

    // The whole response to request (a complete head, and any bytes that came after it);
    // empty when it is no request at all and the connection is simply closed.
    std::string answer(std::string_view request);

    // The response to a head that does not fit the limit.
    static std::string headTooLarge();

  private:
    class Server;
    std::unique_ptr<Server> server_;
};
