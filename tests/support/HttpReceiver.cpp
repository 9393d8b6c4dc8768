#include "support/HttpReceiver.h"

#include <httplib.h>
#include <strings.h>

#include <stdexcept>

struct HttpReceiver::Server : httplib::Server {};

std::string HttpReceiver::Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return {};
}

HttpReceiver::HttpReceiver(std::vector<int> statuses)
    : server_(std::make_unique<Server>()), statuses_(std::move(statuses)) {
    auto record = [this](const httplib::Request& req, httplib::Response& res) {
        Request r{req.method, req.target, {}, req.body};
        for (const auto& [key, value] : req.headers) {
            r.headers.emplace_back(key, value);
        }
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(r));
        res.status = statuses_[std::min(requests_.size(), statuses_.size()) - 1];
        res.set_content("{}", "application/json");
        arrived_.notify_all();
    };
    server_->Post(".*", record);
    server_->Put(".*", record);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("HttpReceiver: no port on 127.0.0.1");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HttpReceiver::~HttpReceiver() {
    server_->stop();
    thread_.join();
}

std::string HttpReceiver::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpReceiver::Request> HttpReceiver::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HttpReceiver::waitFor(std::size_t count, std::chrono::milliseconds within) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, within, [&] { return requests_.size() >= count; });
}
