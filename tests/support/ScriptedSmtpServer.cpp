#include "support/ScriptedSmtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

// Sends everything, ignoring a client that has gone.
void sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string ScriptedSmtpServer::standardReply(const std::string& command) {
    if (command == "DATA") {
        return "354 go ahead";
    }
    if (command == "QUIT") {
        return "221 bye";
    }
    return "250 OK";
}

ScriptedSmtpServer::ScriptedSmtpServer(std::string greeting, Replies replies)
    : greeting_(std::move(greeting)), replies_(std::move(replies)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || stopFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("scripted mail server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

void ScriptedSmtpServer::note(std::string line) {
    std::lock_guard lock(mutex_);
    transcript_.push_back(std::move(line));
}

std::vector<std::string> ScriptedSmtpServer::transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}

std::vector<std::string> ScriptedSmtpServer::commands() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    bool inData = false;
    for (const std::string& line : transcript_) {
        if (line == "<data>") {
            inData = true;
        } else if (line == "<close>") {
            inData = false;
        } else if (!inData) {
            out.push_back(line);
        } else if (line == ".") {
            inData = false;
            out.push_back(line);
        }
    }
    return out;
}

void ScriptedSmtpServer::run() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ++connections_;
                serve(fd);
                ::close(fd);
            }
        }
    }
}

void ScriptedSmtpServer::drip(int fd, const std::string& prefix) {
    char buf[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int n = ::poll(fds, 2, 50);
        if ((n < 0 && errno != EINTR) || fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            if (::recv(fd, buf, sizeof buf, 0) <= 0) {
                note("<close>");
                return;
            }
        } else if (n == 0) {
            sendAll(fd, prefix + "more to come\r\n");
        }
    }
}

void ScriptedSmtpServer::serve(int fd) {
    if (greeting_ == kDrip) {
        drip(fd, "220-");
        return;
    }
    sendAll(fd, greeting_ + "\r\n");
    std::string pending;
    bool inData = false;
    bool silent = false;
    char buf[4096];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            note("<close>");
            return;
        }
        if (silent) {
            continue;  // a stalled server takes what comes and answers nothing
        }
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t end = 0;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            note(line);
            if (inData && line != ".") {
                continue;
            }
            inData = false;
            const std::string reply = replies_(line);
            if (reply == kDrip) {
                drip(fd, "250-");
                return;
            }
            if (reply.empty()) {
                silent = true;
                break;
            }
            sendAll(fd, reply + "\r\n");
            if (line == "DATA" && !reply.empty() && reply[0] == '3') {
                inData = true;
                note("<data>");
            }
        }
    }
}
