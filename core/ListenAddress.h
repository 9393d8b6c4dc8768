// Where a server listens, as the settings and the options write it: an IPv4 address and a
// port ("127.0.0.1:9469") or an IPv6 address in brackets and a port ("[::1]:9469"). Only
// numeric addresses: a name would make the start-up depend on a lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct ListenAddress {
    std::string host;        // the address without brackets
    std::uint16_t port = 0;  // 0: any free port
    bool ipv6 = false;

    // As it was written: host and port, the IPv6 host in brackets.
    std::string text() const;
};

// Nothing when the text is not an address and a port.
std::optional<ListenAddress> parseListenAddress(std::string_view text);
