// A web service on 127.0.0.1 (a free port) that records every request and answers with the
// given statuses in turn, the last one from then on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

class HttpReceiver {
  public:
    struct Request {
        std::string method;
        // As it came over the wire, percent-escapes and all.
        std::string target;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;

        // The value of the header (any case), empty when it is missing.
        std::string header(std::string_view name) const;
    };

    explicit HttpReceiver(std::vector<int> statuses = {200});
    ~HttpReceiver();
    HttpReceiver(const HttpReceiver&) = delete;
    HttpReceiver& operator=(const HttpReceiver&) = delete;

    std::string url(const std::string& path = "") const;
    std::vector<Request> requests() const;
    // Whether count requests have come within the time.
    bool waitFor(std::size_t count, std::chrono::milliseconds within = std::chrono::seconds(15)) const;

  private:
    struct Server;
    std::unique_ptr<Server> server_;
    int port_ = 0;
    std::vector<int> statuses_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Request> requests_;
    std::thread thread_;
};
