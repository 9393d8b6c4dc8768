#include "probes/IcmpSocket.h"

// clang-format off
#include <time.h>  // linux/errqueue.h needs struct timespec and does not include it
#include <linux/errqueue.h>
// clang-format on
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kMaxDatagram = 65536;
constexpr std::size_t kControlSize = 512;

// One receive: the datagram goes to the caller's buffer, its sender and ancillary data
// (TTL, TOS, queued errors) to this record. Fixed in place, since msg points into it.
struct Receipt {
    sockaddr_in peer{};
    alignas(cmsghdr) char control[kControlSize];
    iovec iov{};
    msghdr msg{};

    Receipt() = default;
    Receipt(const Receipt&) = delete;
    Receipt& operator=(const Receipt&) = delete;

    ssize_t receive(int fd, std::vector<std::uint8_t>& buffer, int flags) {
        iov = {buffer.data(), buffer.size()};
        msg = {};
        msg.msg_name = &peer;
        msg.msg_namelen = sizeof peer;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        return ::recvmsg(fd, &msg, flags);
    }
};

int setIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value);
}

sockaddr_in ipv4(std::uint32_t address) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    return sin;
}

int openDatagram(std::uint16_t& id) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (fd < 0) {
        return -1;
    }
    // The kernel gives each datagram ICMP socket an identifier of its own (its "port") and
    // writes it into every request; binding now lets us learn it before the first request.
    sockaddr_in any = ipv4(htonl(INADDR_ANY));
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) < 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) < 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    id = ntohs(bound.sin_port);
    return fd;
}

int openRaw(std::uint16_t& id) {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (fd < 0) {
        return -1;
    }
    // A raw socket sees every ICMP message of the host: let only echo replies through (errors
    // about our requests come through the error queue, which the filter does not touch).
    icmp_filter filter{};
    filter.data = ~(1U << icmp::kEchoReply);
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    // Every raw socket of the host sees the same replies; a random identifier keeps two
    // pingers of one process, or of two processes, apart.
    std::random_device seed;
    id = static_cast<std::uint16_t>(seed());
    return fd;
}

}  // namespace

IcmpSocket::IcmpSocket() : buffer_(kMaxDatagram) {
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd_ < 0) {
        openError_ = errno;
        return;
    }
    fd_ = openDatagram(id_);
    if (fd_ >= 0) {
        kind_ = Kind::Datagram;
    } else {
        fd_ = openRaw(id_);
        if (fd_ < 0) {
            // The raw socket's refusal is the one that tells the user what is missing.
            openError_ = errno;
            return;
        }
        kind_ = Kind::Raw;
    }
    setIntOption(fd_, SOL_IP, IP_RECVERR, 1);
    setIntOption(fd_, SOL_IP, IP_RECVTTL, 1);
    setIntOption(fd_, SOL_IP, IP_RECVTOS, 1);
    std::random_device seed;
    sequence_ = static_cast<std::uint16_t>(seed());
}

IcmpSocket::~IcmpSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (cancelFd_ >= 0) {
        ::close(cancelFd_);
    }
}

void IcmpSocket::cancel() {
    if (cancelFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(cancelFd_, &one, sizeof one);
    }
}

void IcmpSocket::resetCancel() {
    if (cancelFd_ >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(cancelFd_, &count, sizeof count);
    }
}

bool IcmpSocket::cancelPending() const {
    pollfd p{cancelFd_, POLLIN, 0};
    return cancelFd_ >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

IcmpSocket::Wait IcmpSocket::waitReadable(int fd, std::int32_t timeoutMs) {
    const SteadyClock::time_point end =
        SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    pollfd fds[2] = {{fd, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - SteadyClock::now()).count();
        const int n = ::poll(fds, cancelFd_ >= 0 ? 2 : 1, static_cast<int>(std::max<long long>(left, 0)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || (fds[1].revents & POLLIN) != 0) {
            return Wait::Cancelled;
        }
        if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            return Wait::Ready;
        }
        if (SteadyClock::now() >= end) {
            return Wait::TimedOut;
        }
    }
}

void IcmpSocket::drain() {
    // Late replies and errors of earlier requests would only be read and dropped later.
    while (::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT) >= 0) {
    }
    while (::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_ERRQUEUE) >= 0) {
    }
    int pending = 0;
    socklen_t len = sizeof pending;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &len);
}

bool IcmpSocket::applyOptions(const Request& request) {
    if (setIntOption(fd_, SOL_IP, IP_TTL, request.ttl) < 0) {
        return false;
    }
    // Without the don't-fragment flag a request larger than the path allows is fragmented;
    // with it the request is refused instead, as the flag asks.
    const int discovery = (request.flags & 0x02) != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return setIntOption(fd_, SOL_IP, IP_MTU_DISCOVER, discovery) == 0;
}

IcmpSocket::Outcome IcmpSocket::echo(const Request& request) {
    Outcome out;
    drain();
    if (!applyOptions(request)) {
        out.status = IcmpStatus::BadOption;
        return out;
    }
    const std::uint16_t sequence = ++sequence_;
    const std::vector<std::uint8_t> packet = icmp::buildEchoRequest(id_, sequence, request.data);
    const sockaddr_in to = ipv4(request.address);
    const SteadyClock::time_point sent = SteadyClock::now();
    if (::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) <
        0) {
        out.status = icmp::statusForSendError(errno);
        return out;
    }
    const SteadyClock::time_point deadline =
        sent + std::chrono::milliseconds(request.timeoutMs > 0 ? request.timeoutMs : 0);

    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        const int waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
        const int n = ::poll(fds, 2, waitMs);
        if (n < 0 && errno != EINTR) {
            out.status = IcmpStatus::GeneralFailure;
            return out;
        }
        if (n > 0 && (fds[1].revents & POLLIN) != 0) {
            out.status = IcmpStatus::GeneralFailure;
            out.cancelled = true;
            return out;
        }
        if (n > 0 && (fds[0].revents & POLLERR) != 0 && readErrors(request, sequence, out)) {
            return out;
        }
        if (n > 0 && (fds[0].revents & POLLIN) != 0 && readReplies(request, sequence, out)) {
            out.roundTripMs = static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - sent).count());
            return out;
        }
        if (SteadyClock::now() >= deadline) {
            out.status = IcmpStatus::RequestTimedOut;
            return out;
        }
    }
}

bool IcmpSocket::readReplies(const Request& request, std::uint16_t sequence, Outcome& out) {
    for (;;) {
        Receipt r;
        const ssize_t got = r.receive(fd_, buffer_, MSG_DONTWAIT);
        const sockaddr_in& from = r.peer;
        msghdr& msg = r.msg;
        if (got < 0) {
            // Nothing more to read, or a pending error that the error queue explains.
            return false;
        }
        std::span<const std::uint8_t> bytes(buffer_.data(), static_cast<std::size_t>(got));
        std::uint32_t source = from.sin_addr.s_addr;
        std::uint8_t ttl = 0;
        std::uint8_t tos = 0;
        std::uint8_t flags = 0;
        if (kind_ == Kind::Raw) {
            const std::optional<icmp::Ipv4Datagram> ip = icmp::parseIpv4(bytes);
            if (!ip || ip->protocol != IPPROTO_ICMP) {
                continue;
            }
            source = ip->source;
            ttl = ip->ttl;
            tos = ip->tos;
            flags = ip->flags;
            bytes = ip->payload;
        } else {
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL &&
                    c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                    int v = 0;
                    std::memcpy(&v, CMSG_DATA(c), sizeof v);
                    ttl = static_cast<std::uint8_t>(v);
                } else if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
                    tos = *CMSG_DATA(c);
                }
            }
        }
        const std::optional<icmp::Message> m = icmp::parseMessage(bytes);
        if (!m || m->type != icmp::kEchoReply || !m->checksumOk || m->id != id_ || m->sequence != sequence ||
            source != request.address) {
            continue;
        }
        out.status = IcmpStatus::Success;
        out.replied = true;
        out.from = source;
        out.ttl = ttl;
        out.tos = tos;
        out.flags = flags;
        out.data.assign(m->payload.begin(), m->payload.end());
        return true;
    }
}

bool IcmpSocket::readErrors(const Request& request, std::uint16_t sequence, Outcome& out) {
    bool matched = false;
    for (;;) {
        Receipt r;
        const ssize_t got = r.receive(fd_, buffer_, MSG_DONTWAIT | MSG_ERRQUEUE);
        const sockaddr_in& target = r.peer;
        msghdr& msg = r.msg;
        if (got < 0) {
            break;
        }
        if (matched) {
            continue;  // read the rest so the queue does not keep the socket signalled
        }
        sock_extended_err ee{};
        bool haveError = false;
        sockaddr_in offender{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR && c->cmsg_len >= CMSG_LEN(sizeof ee)) {
                std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
                // The address of whoever reported the error follows the record.
                if (c->cmsg_len >= CMSG_LEN(sizeof ee + sizeof offender)) {
                    std::memcpy(&offender, CMSG_DATA(c) + sizeof ee, sizeof offender);
                }
                haveError = true;
                break;
            }
        }
        if (!haveError || ee.ee_origin != SO_EE_ORIGIN_ICMP) {
            continue;
        }
        // The queued bytes start with the ICMP header of the request the error is about.
        const std::optional<icmp::Message> original =
            icmp::parseMessage(std::span<const std::uint8_t>(buffer_.data(), static_cast<std::size_t>(got)));
        if (!original || original->type != icmp::kEchoRequest || original->id != id_ ||
            original->sequence != sequence || target.sin_addr.s_addr != request.address) {
            continue;
        }
        out.status = icmp::statusForIcmpError(ee.ee_type, ee.ee_code);
        out.from = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
        matched = true;
    }
    // The error queue also leaves a pending socket error behind; clear it so poll calms down.
    int pending = 0;
    socklen_t len = sizeof pending;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &len);
    return matched;
}
