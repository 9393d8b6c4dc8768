// The metrics' HTTP server: one thread that accepts connections on the listen address, reads
// each request head within a size and a time limit, answers it (metrics/MetricsHttp.h) and
// closes the connection. A client that sends too much gets 431, one that is too slow is cut
// off, and only a few connections are served at once; when all are taken, a new one pushes
// out the one that has been quiet longest, else it waits to be accepted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "core/ListenAddress.h"
#include "metrics/MetricsHttp.h"

struct ServerLimits {
    std::size_t headBytes = 8192;
    // From the accept to the end of the request head.
    std::chrono::milliseconds headTime{5000};
    // From the accept to the last byte of the answer.
    std::chrono::milliseconds exchangeTime{30000};
    std::size_t connections = 16;
};

class MetricsServer {
  public:
    explicit MetricsServer(MetricsHttp::Render render, ServerLimits limits = {});
    // Stops the thread and closes every connection.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds, listens and starts serving. False, with error(), when the address cannot be
    // used (taken, not on this machine, no right to the port).
    bool start(const ListenAddress& at);
    void stop();

    const std::string& error() const { return error_; }
    // Where it listens: the port the system chose when 0 was asked for.
    ListenAddress address() const { return bound_; }

  private:
    void run();

    MetricsHttp http_;
    ServerLimits limits_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    ListenAddress bound_;
    std::string error_;
    std::thread thread_;
};
