#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in addr{};  // the port sits at the same place for IPv6
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        fail("getsockname");
    }
    return ntohs(addr.sin_port);
}

// A TCP socket bound to address:port (0: any free port).
int boundSocket(std::uint16_t port, const std::string& address = "127.0.0.1") {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    const bool ipv6 = ::inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1;
    sockaddr_in v4 = loopback(port);
    if (!ipv6 && ::inet_pton(AF_INET, address.c_str(), &v4.sin_addr) != 1) {
        throw std::invalid_argument("not an address: " + address);
    }
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr* addr =
        ipv6 ? reinterpret_cast<const sockaddr*>(&v6) : reinterpret_cast<const sockaddr*>(&v4);
    if (::bind(fd, addr, ipv6 ? sizeof v6 : sizeof v4) != 0) {
        ::close(fd);
        fail("bind");
    }
    return fd;
}

void signal(int eventFd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

}  // namespace

PeerConnection::~PeerConnection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool PeerConnection::waitReadable() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0 && fds[1].revents == 0;
    }
}

void PeerConnection::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size() && fd_ >= 0) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // the client has gone
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::string PeerConnection::receive(std::size_t count) {
    std::string got;
    char buf[4096];
    while (got.size() < count && fd_ >= 0 && !clientClosed_ && waitReadable()) {
        const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0) {
            clientClosed_ = true;
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::string PeerConnection::receiveUntil(const std::string& terminator) {
    std::string got;
    while (got.size() < terminator.size() ||
           got.compare(got.size() - terminator.size(), terminator.size(), terminator) != 0) {
        const std::string one = receive(1);
        if (one.empty()) {
            break;
        }
        got += one;
    }
    return got;
}

std::string PeerConnection::receiveAll() {
    std::string got;
    while (!clientClosed_) {
        const std::string part = receive(4096);
        if (part.empty()) {
            break;
        }
        got += part;
    }
    return got;
}

void PeerConnection::holdOpen() {
    char buf[4096];
    while (fd_ >= 0 && !clientClosed_ && waitReadable()) {
        if (::recv(fd_, buf, sizeof buf, 0) <= 0) {
            clientClosed_ = true;
        }
    }
}

void PeerConnection::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void PeerConnection::reset() {
    if (fd_ >= 0) {
        const linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close();
    }
}

LoopbackServer::LoopbackServer(Script script, std::string address)
    : script_(std::move(script)), address_(std::move(address)) {
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) {
        fail("eventfd");
    }
    openListener();
}

LoopbackServer::~LoopbackServer() {
    stopAcceptor();
    signal(stopFd_);
    std::vector<std::thread> running;
    {
        std::lock_guard lock(mutex_);
        running.swap(connections_);
    }
    for (std::thread& t : running) {
        t.join();
    }
    ::close(stopFd_);
}

void LoopbackServer::openListener() {
    listenFd_ = boundSocket(port_, address_);
    if (::listen(listenFd_, 64) != 0) {
        fail("listen");
    }
    port_ = boundPort(listenFd_);
    stopAcceptFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopAcceptFd_ < 0) {
        fail("eventfd");
    }
    acceptor_ = std::thread([this, l = listenFd_, s = stopAcceptFd_] { acceptLoop(l, s); });
}

void LoopbackServer::acceptLoop(int listenFd, int stopAcceptFd) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopAcceptFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++accepted_;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] {
            PeerConnection peer(fd, stopFd_);
            script_(peer);
        });
    }
}

void LoopbackServer::stopAcceptor() {
    if (!acceptor_.joinable()) {
        return;
    }
    signal(stopAcceptFd_);
    acceptor_.join();
    ::close(listenFd_);
    ::close(stopAcceptFd_);
    listenFd_ = -1;
    stopAcceptFd_ = -1;
}

void LoopbackServer::stopListening() {
    stopAcceptor();
}

void LoopbackServer::listenAgain() {
    if (!acceptor_.joinable()) {
        openListener();
    }
}

LoopbackServer::Script LoopbackServer::greeting(std::string text) {
    return [text](PeerConnection& c) {
        c.send(text);
        c.holdOpen();
    };
}

LoopbackServer::Script LoopbackServer::silent() {
    return [](PeerConnection& c) { c.holdOpen(); };
}

LoopbackServer::Script LoopbackServer::closing(std::string text) {
    return [text](PeerConnection& c) {
        c.send(text);
        c.close();
    };
}

LoopbackServer::Script LoopbackServer::expect(std::string request, std::string reply) {
    return [request, reply](PeerConnection& c) {
        const std::string got = c.receiveUntil(request);
        if (got.size() >= request.size() &&
            got.compare(got.size() - request.size(), request.size(), request) == 0) {
            c.send(reply);
        }
        c.holdOpen();
    };
}

LoopbackServer::Script LoopbackServer::record(std::function<void(const std::string&)> sink) {
    return [sink](PeerConnection& c) { sink(c.receiveAll()); };
}

RefusingPort::RefusingPort() : fd_(boundSocket(0)), port_(boundPort(fd_)) {}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

FullBacklogListener::FullBacklogListener() : listenFd_(boundSocket(0)), port_(boundPort(listenFd_)) {
    if (::listen(listenFd_, 0) != 0) {
        fail("listen");
    }
    fillerFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port_);
    if (fillerFd_ < 0 || ::connect(fillerFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        fail("connect");
    }
    // The place is taken once the listener reports a connection waiting to be accepted.
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) {
        throw std::runtime_error("the queued connection did not arrive");
    }
}

FullBacklogListener::~FullBacklogListener() {
    ::close(fillerFd_);
    ::close(listenFd_);
}
