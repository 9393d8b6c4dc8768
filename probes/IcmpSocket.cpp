#include "probes/IcmpSocket.h"

// clang-format off
#include <time.h>  // linux/errqueue.h needs struct timespec and does not include it
#include <linux/errqueue.h>
// clang-format on
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
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
    sockaddr_storage peer{};
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

int icmpProtocol(int family) {
    return family == AF_INET6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP;
}

int openDatagram(int family, std::uint16_t& id) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, icmpProtocol(family));
    if (fd < 0) {
        return -1;
    }
    // The kernel gives each datagram ICMP socket an identifier of its own (its "port") and
    // writes it into every request; binding now lets us learn it before the first request.
    sockaddr_storage any{};
    any.ss_family = static_cast<sa_family_t>(family);
    const socklen_t anyLength = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), anyLength) < 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) < 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    // The port sits at the same place in both families' socket addresses.
    sockaddr_in port{};
    std::memcpy(&port, &bound, sizeof port);
    id = ntohs(port.sin_port);
    return fd;
}

// Lets only echo replies with our identifier into the socket. Without it, the socket of a
// pinger that waits for nothing (a worker between cycles) would queue a copy of every echo
// reply that reaches the machine until its next request. The identifier is the 16-bit word
// 4 bytes into the ICMP header; over IPv4 the raw socket sees the IP header in front of it.
void keepOnlyIdentifier(int fd, int family, std::uint16_t id) {
    std::vector<sock_filter> code;
    if (family == AF_INET6) {
        code.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4));
    } else {
        code.push_back(BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0));  // X := the IP header's length
        code.push_back(BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4));
    }
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFU));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    // Should the system refuse it, the replies are still matched one by one when read.
    ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

int openRaw(int family, std::uint16_t& id) {
    const int fd = ::socket(family, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, icmpProtocol(family));
    if (fd < 0) {
        return -1;
    }
    // A raw socket sees every ICMP message of the host: let only echo replies through (errors
    // about our requests come through the error queue, which the filter does not touch).
    if (family == AF_INET6) {
        icmp6_filter filter{};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(icmp::kEchoReply6, &filter);
        ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    } else {
        icmp_filter filter{};
        filter.data = ~(1U << icmp::kEchoReply);
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    // Every raw socket of the host sees the same replies; a random identifier keeps two
    // pingers of one process, or of two processes, apart.
    std::random_device seed;
    id = static_cast<std::uint16_t>(seed());
    keepOnlyIdentifier(fd, family, id);
    return fd;
}

}  // namespace

IcmpSocket::IcmpSocket(int family) : family_(family), buffer_(kMaxDatagram) {
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd_ < 0) {
        openError_ = errno;
        return;
    }
    fd_ = openDatagram(family, id_);
    if (fd_ >= 0) {
        kind_ = Kind::Datagram;
    } else {
        fd_ = openRaw(family, id_);
        if (fd_ < 0) {
            // The raw socket's refusal is the one that tells the user what is missing.
            openError_ = errno;
            return;
        }
        kind_ = Kind::Raw;
    }
    if (v6()) {
        setIntOption(fd_, SOL_IPV6, IPV6_RECVERR, 1);
        setIntOption(fd_, SOL_IPV6, IPV6_RECVHOPLIMIT, 1);
        setIntOption(fd_, SOL_IPV6, IPV6_RECVTCLASS, 1);
    } else {
        setIntOption(fd_, SOL_IP, IP_RECVERR, 1);
        setIntOption(fd_, SOL_IP, IP_RECVTTL, 1);
        setIntOption(fd_, SOL_IP, IP_RECVTOS, 1);
    }
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
    const bool dontFragment = (request.flags & 0x02) != 0;
    if (v6()) {
        // IPv6 routers never fragment; without the flag the system fragments a request larger
        // than the path takes, with it the request is refused instead.
        return setIntOption(fd_, SOL_IPV6, IPV6_UNICAST_HOPS, request.ttl) == 0 &&
               setIntOption(fd_, SOL_IPV6, IPV6_DONTFRAG, dontFragment ? 1 : 0) == 0;
    }
    if (setIntOption(fd_, SOL_IP, IP_TTL, request.ttl) < 0) {
        return false;
    }
    // Without the don't-fragment flag a request larger than the path allows is fragmented;
    // with it the request is refused instead, as the flag asks.
    const int discovery = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
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
    const std::vector<std::uint8_t> packet =
        icmp::buildEchoRequest(id_, sequence, request.data, v6() ? icmp::kEchoRequest6 : icmp::kEchoRequest);
    sockaddr_storage to{};
    const socklen_t toLength = request.address.toSockaddr(0, to);
    const SteadyClock::time_point sent = SteadyClock::now();
    if (::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLength) <
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
        msghdr& msg = r.msg;
        if (got < 0) {
            // Nothing more to read, or a pending error that the error queue explains.
            return false;
        }
        std::span<const std::uint8_t> bytes(buffer_.data(), static_cast<std::size_t>(got));
        NetAddress source =
            NetAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&r.peer), msg.msg_namelen);
        std::uint8_t ttl = 0;
        std::uint8_t tos = 0;
        std::uint8_t flags = 0;
        if (kind_ == Kind::Raw && !v6()) {
            const std::optional<icmp::Ipv4Datagram> ip = icmp::parseIpv4(bytes);
            if (!ip || ip->protocol != IPPROTO_ICMP) {
                continue;
            }
            source = NetAddress::ipv4(ip->source);
            ttl = ip->ttl;
            tos = ip->tos;
            flags = ip->flags;
            bytes = ip->payload;
        } else {
            // A datagram socket, and any IPv6 one, hands over no IP header: what the header
            // held comes as ancillary data.
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                const bool intData = c->cmsg_len >= CMSG_LEN(sizeof(int));
                int v = 0;
                if (intData) {
                    std::memcpy(&v, CMSG_DATA(c), sizeof v);
                }
                if ((c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL && intData) ||
                    (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT && intData)) {
                    ttl = static_cast<std::uint8_t>(v);
                } else if (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_TCLASS && intData) {
                    tos = static_cast<std::uint8_t>(v);
                } else if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
                    tos = *CMSG_DATA(c);
                }
            }
        }
        const std::optional<icmp::Message> m = icmp::parseMessage(bytes);
        // The ICMPv6 checksum covers the addresses as well; the system has checked it already
        // and drops a reply whose checksum is wrong.
        if (!m || m->type != (v6() ? icmp::kEchoReply6 : icmp::kEchoReply) || (!v6() && !m->checksumOk) ||
            m->id != id_ || m->sequence != sequence || source != request.address) {
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
        msghdr& msg = r.msg;
        if (got < 0) {
            break;
        }
        if (matched) {
            continue;  // read the rest so the queue does not keep the socket signalled
        }
        sock_extended_err ee{};
        bool haveError = false;
        NetAddress offender;
        const int level = v6() ? SOL_IPV6 : SOL_IP;
        const int type = v6() ? IPV6_RECVERR : IP_RECVERR;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == level && c->cmsg_type == type && c->cmsg_len >= CMSG_LEN(sizeof ee)) {
                std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
                // The address of whoever reported the error follows the record.
                const std::size_t rest = c->cmsg_len - CMSG_LEN(sizeof ee);
                sockaddr_storage from{};
                std::memcpy(&from, CMSG_DATA(c) + sizeof ee, std::min(rest, sizeof from));
                offender = NetAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&from),
                                                    static_cast<socklen_t>(std::min(rest, sizeof from)));
                haveError = true;
                break;
            }
        }
        if (!haveError || ee.ee_origin != (v6() ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP)) {
            continue;
        }
        // The queued bytes start with the ICMP header of the request the error is about.
        const std::optional<icmp::Message> original =
            icmp::parseMessage(std::span<const std::uint8_t>(buffer_.data(), static_cast<std::size_t>(got)));
        const NetAddress target =
            NetAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&r.peer), msg.msg_namelen);
        if (!original || original->type != (v6() ? icmp::kEchoRequest6 : icmp::kEchoRequest) ||
            original->id != id_ || original->sequence != sequence || target != request.address) {
            continue;
        }
        out.status = v6() ? icmp::statusForIcmp6Error(ee.ee_type, ee.ee_code)
                          : icmp::statusForIcmpError(ee.ee_type, ee.ee_code);
        out.from = offender;
        matched = true;
    }
    // The error queue also leaves a pending socket error behind; clear it so poll calms down.
    int pending = 0;
    socklen_t len = sizeof pending;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &len);
    return matched;
}
