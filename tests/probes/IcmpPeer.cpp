#include "IcmpPeer.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <span>
#include <stdexcept>

#include "probes/IcmpPacket.h"

namespace {

int rawSocket(const char* bindTo) {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        throw std::runtime_error(std::string("peer raw socket: ") + std::strerror(errno));
    }
    if (bindTo != nullptr) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        ::inet_aton(bindTo, &sin.sin_addr);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
            ::close(fd);
            throw std::runtime_error(std::string("peer bind: ") + std::strerror(errno));
        }
    }
    return fd;
}

void sendTo(int fd, std::uint32_t destination, const std::vector<std::uint8_t>& message) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Gives a message built as an echo request another type and code, with its checksum.
std::vector<std::uint8_t> retyped(std::vector<std::uint8_t> m, std::uint8_t type, std::uint8_t code) {
    m[0] = type;
    m[1] = code;
    m[2] = 0;
    m[3] = 0;
    const std::uint16_t sum = icmp::checksum(m);
    m[2] = static_cast<std::uint8_t>(sum >> 8);
    m[3] = static_cast<std::uint8_t>(sum & 0xFF);
    return m;
}

std::vector<std::uint8_t> echoReply(std::uint16_t id, std::uint16_t sequence,
                                    const std::vector<std::uint8_t>& data) {
    return retyped(icmp::buildEchoRequest(id, sequence, data), icmp::kEchoReply, 0);
}

// An ICMP error about the datagram: its IP header and first eight bytes follow the header
// (whose second word is unused by these errors and stays zero).
std::vector<std::uint8_t> errorAbout(std::uint8_t type, std::uint8_t code,
                                     const std::vector<std::uint8_t>& ipPacket) {
    const std::size_t quoted = static_cast<std::size_t>(ipPacket[0] & 0x0F) * 4 + 8;
    return retyped(icmp::buildEchoRequest(0, 0, std::span(ipPacket).first(quoted)), type, code);
}

}  // namespace

IcmpPeer::IcmpPeer(std::vector<std::vector<Answer>> script) : script_(std::move(script)) {
    watch_ = rawSocket(nullptr);
    icmp_filter filter{};
    filter.data = ~(1U << icmp::kEchoRequest);
    ::setsockopt(watch_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    other_ = rawSocket("127.0.0.2");
    router_ = rawSocket("127.0.0.3");
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { run(); });
}

IcmpPeer::~IcmpPeer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
    thread_.join();
    for (int fd : {watch_, other_, router_, stop_}) {
        ::close(fd);
    }
}

std::vector<IcmpPeer::Request> IcmpPeer::requests() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void IcmpPeer::run() {
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        pollfd fds[2] = {{watch_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        const ssize_t got = ::recv(watch_, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            continue;
        }
        const std::vector<std::uint8_t> packet(buffer.begin(), buffer.begin() + got);
        const auto ip = icmp::parseIpv4(packet);
        if (!ip || ip->destination != htonl(INADDR_LOOPBACK)) {
            continue;
        }
        const auto m = icmp::parseMessage(ip->payload);
        if (!m || m->type != icmp::kEchoRequest) {
            continue;
        }
        Request r;
        r.ttl = ip->ttl;
        r.dontFragment = (ip->flags & 0x2) != 0;
        r.id = m->id;
        r.sequence = m->sequence;
        r.data.assign(m->payload.begin(), m->payload.end());
        std::size_t index = 0;
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(r);
            index = seen_.size() - 1;
        }
        if (index < script_.size()) {
            for (Answer how : script_[index]) {
                answer(packet, r, how);
            }
        }
    }
}

void IcmpPeer::answer(const std::vector<std::uint8_t>& ipPacket, const Request& r, Answer how) {
    const std::uint32_t requester = icmp::parseIpv4(ipPacket)->source;
    switch (how) {
        case Answer::Reply:
            sendTo(watch_, requester, echoReply(r.id, r.sequence, r.data));
            break;
        case Answer::ReplyFromOther:
            sendTo(other_, requester, echoReply(r.id, r.sequence, r.data));
            break;
        case Answer::ReplyWrongSequence:
            sendTo(watch_, requester, echoReply(r.id, static_cast<std::uint16_t>(r.sequence + 1), r.data));
            break;
        case Answer::ReplyWrongId:
            sendTo(watch_, requester, echoReply(static_cast<std::uint16_t>(r.id + 1), r.sequence, r.data));
            break;
        case Answer::ReplyBadChecksum: {
            std::vector<std::uint8_t> m = echoReply(r.id, r.sequence, r.data);
            m[3] ^= 0x5A;
            sendTo(watch_, requester, m);
            break;
        }
        case Answer::TimeExceeded:
            sendTo(router_, requester, errorAbout(icmp::kTimeExceeded, 0, ipPacket));
            break;
        case Answer::HostUnreachable:
            sendTo(router_, requester, errorAbout(icmp::kDestUnreachable, 1, ipPacket));
            break;
    }
}
