// A host address of either family as the probes reach it: IPv4, or IPv6 with the interface a
// link-local address needs (its zone). Also how a host text names one: an IPv6 literal is
// written with or without brackets and may carry a zone, "fe80::1%eth0".
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>

struct NetAddress {
    // AF_INET, AF_INET6, or AF_UNSPEC when there is none.
    int family = AF_UNSPEC;
    // IPv4 in network order.
    std::uint32_t v4 = 0;
    std::array<std::uint8_t, 16> v6{};
    // The interface index of an IPv6 zone; 0 without one.
    std::uint32_t scope = 0;

    static NetAddress ipv4(std::uint32_t networkOrder);
    // Takes an AF_INET or AF_INET6 socket address; any other gives no address.
    static NetAddress fromSockaddr(const sockaddr* sa, socklen_t length);

    bool isIpv6() const { return family == AF_INET6; }
    // No address, or the unspecified one (0.0.0.0, ::), which reaches no host.
    bool isNull() const;
    // The IPv4 address an IPv4-mapped IPv6 one (::ffff:a.b.c.d) stands for; any other
    // address as it is. Such an address is reached over IPv4, never over ICMPv6.
    NetAddress unmapped() const;
    // The address in its usual text form, an IPv6 one with "%" and the zone's name.
    std::string text() const;
    // The socket address for port; returns its length, 0 when there is no address.
    socklen_t toSockaddr(std::uint16_t port, sockaddr_storage& out) const;

    // Same family and address bytes; the zone is not compared.
    bool operator==(const NetAddress& other) const;
};

enum class Ipv6Literal {
    No,       // no colon: an IPv4 address or a host name
    Valid,    // an IPv6 address, zone included
    Invalid,  // written like one (a colon, or brackets) but not a valid address or zone
};

// Reads text as an IPv6 literal: "2001:db8::1", "[2001:db8::1]", "fe80::1%eth0" (a zone by
// interface name or index). A host name never holds a colon, so text with one is never looked
// up by name. Sets address only for Valid.
Ipv6Literal parseIpv6Literal(const std::string& text, NetAddress& address);
