#include "probes/NetAddress.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

NetAddress NetAddress::ipv4(std::uint32_t networkOrder) {
    NetAddress a;
    a.family = AF_INET;
    a.v4 = networkOrder;
    return a;
}

NetAddress NetAddress::fromSockaddr(const sockaddr* sa, socklen_t length) {
    NetAddress a;
    if (sa == nullptr) {
        return a;
    }
    if (sa->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in sin{};
        std::memcpy(&sin, sa, sizeof sin);
        return ipv4(sin.sin_addr.s_addr);
    }
    if (sa->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 sin6{};
        std::memcpy(&sin6, sa, sizeof sin6);
        a.family = AF_INET6;
        std::memcpy(a.v6.data(), &sin6.sin6_addr, a.v6.size());
        a.scope = sin6.sin6_scope_id;
    }
    return a;
}

bool NetAddress::isNull() const {
    if (family == AF_INET) {
        return v4 == 0;
    }
    if (family == AF_INET6) {
        return std::all_of(v6.begin(), v6.end(), [](std::uint8_t b) { return b == 0; });
    }
    return true;
}

NetAddress NetAddress::unmapped() const {
    constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (family != AF_INET6 || !std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), v6.begin())) {
        return *this;
    }
    std::uint32_t embedded = 0;
    std::memcpy(&embedded, v6.data() + kMappedPrefix.size(), sizeof embedded);
    return ipv4(embedded);
}

std::string NetAddress::text() const {
    char buf[INET6_ADDRSTRLEN] = {};
    if (family == AF_INET) {
        in_addr a{};
        a.s_addr = v4;
        ::inet_ntop(AF_INET, &a, buf, sizeof buf);
        return buf;
    }
    if (family != AF_INET6) {
        return {};
    }
    ::inet_ntop(AF_INET6, v6.data(), buf, sizeof buf);
    std::string out = buf;
    if (scope != 0) {
        char name[IF_NAMESIZE] = {};
        out += '%';
        out += ::if_indextoname(scope, name) != nullptr ? std::string(name) : std::to_string(scope);
    }
    return out;
}

socklen_t NetAddress::toSockaddr(std::uint16_t port, sockaddr_storage& out) const {
    out = sockaddr_storage{};
    if (family == AF_INET) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        sin.sin_addr.s_addr = v4;
        std::memcpy(&out, &sin, sizeof sin);
        return sizeof sin;
    }
    if (family == AF_INET6) {
        sockaddr_in6 sin6{};
        sin6.sin6_family = AF_INET6;
        sin6.sin6_port = htons(port);
        std::memcpy(&sin6.sin6_addr, v6.data(), v6.size());
        sin6.sin6_scope_id = scope;
        std::memcpy(&out, &sin6, sizeof sin6);
        return sizeof sin6;
    }
    return 0;
}

bool NetAddress::operator==(const NetAddress& other) const {
    if (family != other.family) {
        return false;
    }
    if (family == AF_INET) {
        return v4 == other.v4;
    }
    return family != AF_INET6 || v6 == other.v6;
}

namespace {

// The interface of a zone: its name, or its index in decimal; 0 when there is no such one.
std::uint32_t zoneIndex(const std::string& zone) {
    if (zone.empty()) {
        return 0;
    }
    if (std::all_of(zone.begin(), zone.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        errno = 0;
        const unsigned long index = std::strtoul(zone.c_str(), nullptr, 10);
        return errno == 0 && index <= UINT32_MAX ? static_cast<std::uint32_t>(index) : 0;
    }
    return ::if_nametoindex(zone.c_str());
}

}  // namespace

Ipv6Literal parseIpv6Literal(const std::string& text, NetAddress& address) {
    std::string body = text;
    const bool bracketed = !body.empty() && body.front() == '[';
    if (bracketed) {
        if (body.size() < 2 || body.back() != ']') {
            return Ipv6Literal::Invalid;
        }
        body = body.substr(1, body.size() - 2);
    }
    if (body.find(':') == std::string::npos) {
        return bracketed ? Ipv6Literal::Invalid : Ipv6Literal::No;
    }
    std::uint32_t scope = 0;
    if (const std::size_t percent = body.find('%'); percent != std::string::npos) {
        scope = zoneIndex(body.substr(percent + 1));
        if (scope == 0) {
            return Ipv6Literal::Invalid;
        }
        body.erase(percent);
    }
    in6_addr a{};
    if (::inet_pton(AF_INET6, body.c_str(), &a) != 1) {
        return Ipv6Literal::Invalid;
    }
    address = NetAddress{};
    address.family = AF_INET6;
    std::memcpy(address.v6.data(), &a, address.v6.size());
    address.scope = scope;
    return Ipv6Literal::Valid;
}
