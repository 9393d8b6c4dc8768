#include "metrics/MetricsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <vector>

#include "metrics/RequestHead.h"

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

constexpr int kNice = 10;
// How long a connection may go without a byte before a new one may take its place.
constexpr std::chrono::milliseconds kQuietEnough{100};

class Connection {
  public:
    Connection(int fd, std::size_t headBytes, SteadyTime accepted)
        : fd_(fd), head_(headBytes), accepted_(accepted), lastProgress_(accepted) {}
    ~Connection() { ::close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }
    bool answering() const { return answering_; }
    SteadyTime accepted() const { return accepted_; }
    // When bytes last came in or went out.
    SteadyTime lastProgress() const { return lastProgress_; }

    // Reads what has arrived. False when the connection is over (closed by the client, or
    // no request at all).
    bool receive(MetricsHttp& http) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            if (n == 0) {
                return false;
            }
            lastProgress_ = std::chrono::steady_clock::now();
            switch (head_.feed(std::string_view(buffer, static_cast<std::size_t>(n)))) {
                case RequestHead::State::Incomplete:
                    continue;
                case RequestHead::State::TooLarge:
                    return startAnswer(MetricsHttp::headTooLarge());
                case RequestHead::State::Complete:
                    return startAnswer(http.answer(head_.bytes()));
            }
        }
    }

    // Sends what the socket takes. False when the answer is out or cannot go.
    bool send() {
        while (sent_ < answer_.size()) {
            const ssize_t n = ::send(fd_, answer_.data() + sent_, answer_.size() - sent_, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            sent_ += static_cast<std::size_t>(n);
            lastProgress_ = std::chrono::steady_clock::now();
        }
        ::shutdown(fd_, SHUT_WR);
        return false;
    }

  private:
    bool startAnswer(std::string answer) {
        if (answer.empty()) {
            return false;
        }
        answer_ = std::move(answer);
        answering_ = true;
        return send();
    }

    int fd_;
    RequestHead head_;
    SteadyTime accepted_;
    SteadyTime lastProgress_;
    bool answering_ = false;
    std::string answer_;
    std::size_t sent_ = 0;
};

bool quieter(const Connection& a, const Connection& b) {
    return a.lastProgress() < b.lastProgress();
}

std::string systemText(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

}  // namespace

MetricsServer::MetricsServer(MetricsHttp::Render render, ServerLimits limits)
    : http_(std::move(render)), limits_(limits) {}

MetricsServer::~MetricsServer() {
    stop();
}

bool MetricsServer::start(const ListenAddress& at) {
    const std::string where = at.text();
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (at.ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(at.port);
        ::inet_pton(AF_INET6, at.host.c_str(), &a->sin6_addr);
        length = sizeof(sockaddr_in6);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_port = htons(at.port);
        ::inet_pton(AF_INET, at.host.c_str(), &a->sin_addr);
        length = sizeof(sockaddr_in);
    }
    listenFd_ = ::socket(at.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (listenFd_ < 0 || wakeFd_ < 0) {
        error_ = systemText(where.c_str(), errno);
        stop();
        return false;
    }
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (at.ipv6) {
        ::setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(listenFd_, SOMAXCONN) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        error_ = systemText(where.c_str(), errno);
        stop();
        return false;
    }
    bound_ = at;
    bound_.port = ntohs(at.ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void MetricsServer::stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeFd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void MetricsServer::run() {
    // Serving the metrics is worth less than any check: where the processor is short, this
    // thread yields to the monitor (on Linux the nice value is the thread's own).
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice);
    std::list<Connection> connections;
    std::vector<pollfd> fds;
    // After an accept that failed for want of descriptors, the listener rests a while
    // rather than wake the loop again at once.
    SteadyTime acceptResumes{};
    for (;;) {
        const SteadyTime now = std::chrono::steady_clock::now();
        // Connections past their time are cut off: a slow head, or an answer nobody reads.
        connections.remove_if([&](const Connection& c) {
            return now >= c.accepted() + (c.answering() ? limits_.exchangeTime : limits_.headTime);
        });
        int timeoutMs = now < acceptResumes ? 100 : -1;
        for (const Connection& c : connections) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                c.accepted() + (c.answering() ? limits_.exchangeTime : limits_.headTime) - now);
            timeoutMs = timeoutMs < 0 ? static_cast<int>(left.count())
                                      : std::min(timeoutMs, static_cast<int>(left.count()));
        }

        fds.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        // When every place is taken, a new connection pushes out the one that has gone
        // longest without sending or reading a byte, once that has been quiet for a while:
        // clients that connect and then do nothing, or never read their answer, cannot keep
        // a scrape waiting.
        const auto stalest = std::min_element(connections.begin(), connections.end(), quieter);
        const bool full = connections.size() >= limits_.connections;
        if (full && now < stalest->lastProgress() + kQuietEnough) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(stalest->lastProgress() + kQuietEnough - now);
            timeoutMs = timeoutMs < 0 ? static_cast<int>(left.count())
                                      : std::min(timeoutMs, static_cast<int>(left.count()));
        }
        const bool accepting =
            now >= acceptResumes && (!full || now >= stalest->lastProgress() + kQuietEnough);
        fds.push_back({accepting ? listenFd_ : -1, POLLIN, 0});
        for (const Connection& c : connections) {
            fds.push_back({c.fd(), static_cast<short>(c.answering() ? POLLOUT : POLLIN), 0});
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            return;
        }

        // Served first, so the new connections below do not shift the poll entries.
        std::size_t k = 2;
        for (auto it = connections.begin(); it != connections.end(); ++k) {
            const short events = fds[k].revents;
            bool open = true;
            if ((events & (POLLERR | POLLNVAL)) != 0) {
                open = false;
            } else if ((events & (POLLIN | POLLHUP)) != 0 && !it->answering()) {
                open = it->receive(http_);
            } else if ((events & (POLLOUT | POLLHUP)) != 0 && it->answering()) {
                open = it->send();
            }
            it = open ? std::next(it) : connections.erase(it);
        }
        if (accepting && (fds[1].revents & POLLIN) != 0) {
            for (;;) {
                if (connections.size() >= limits_.connections) {
                    const auto pushedOut = std::min_element(connections.begin(), connections.end(), quieter);
                    if (std::chrono::steady_clock::now() < pushedOut->lastProgress() + kQuietEnough) {
                        break;  // the rest wait to be accepted
                    }
                    connections.erase(pushedOut);
                }
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                        acceptResumes = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                    }
                    break;
                }
                connections.emplace_back(fd, limits_.headBytes, std::chrono::steady_clock::now());
            }
        }
    }
}
