// Feeds arbitrary datagrams to the ICMP readers, as a raw socket would deliver them: the IP
// header, the ICMP message, and for an error message the datagram it quotes. Every view the
// readers return must lie inside the bytes they were given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "probes/IcmpPacket.h"

namespace {

void requireInside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
    if (part.empty()) {
        return;
    }
    if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) {
        std::abort();
    }
}

void readMessage(std::span<const std::uint8_t> bytes, int depth) {
    const auto message = icmp::parseMessage(bytes);
    if (!message) {
        return;
    }
    requireInside(message->payload, bytes);
    (void)icmp::statusForIcmpError(message->type, message->code);
    if (depth == 0 && message->type != icmp::kEchoReply) {
        // An error quotes the header of the datagram that caused it.
        if (const auto quoted = icmp::parseIpv4(message->payload)) {
            requireInside(quoted->payload, message->payload);
            readMessage(quoted->payload, depth + 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto datagram = icmp::parseIpv4(bytes)) {
        requireInside(datagram->payload, bytes);
        readMessage(datagram->payload, 0);
    }
    // Datagram sockets deliver the message without the IP header.
    readMessage(bytes, 0);
    (void)icmp::checksum(bytes);
    return 0;
}
