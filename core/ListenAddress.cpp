#include "core/ListenAddress.h"

#include <arpa/inet.h>

#include <charconv>

std::string ListenAddress::text() const {
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == text.size()) {
        return std::nullopt;
    }
    ListenAddress out;
    std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value > 65535) {
        return std::nullopt;
    }
    out.port = static_cast<std::uint16_t>(value);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        out.ipv6 = true;
    }
    out.host = std::string(host);
    unsigned char buffer[16];
    if (::inet_pton(out.ipv6 ? AF_INET6 : AF_INET, out.host.c_str(), buffer) != 1) {
        return std::nullopt;
    }
    return out;
}
