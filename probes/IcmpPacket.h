// The bytes of ICMP echo traffic: building a request, reading what a socket hands back, and
// turning ICMP errors and send failures into the status codes the ping component reports.
// Everything here reads only the bytes it is given, so replies from the network can be
// malformed or truncated without harm.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Status codes of one echo, as LastError and the reply record carry them.
namespace IcmpStatus {
constexpr std::int32_t Success = 0;
constexpr std::int32_t BufferTooSmall = 11001;
constexpr std::int32_t DestNetUnreachable = 11002;
constexpr std::int32_t DestHostUnreachable = 11003;
constexpr std::int32_t DestProtocolUnreachable = 11004;
constexpr std::int32_t DestPortUnreachable = 11005;
constexpr std::int32_t NoResources = 11006;
constexpr std::int32_t BadOption = 11007;
constexpr std::int32_t HardwareError = 11008;
constexpr std::int32_t PacketTooBig = 11009;
constexpr std::int32_t RequestTimedOut = 11010;
constexpr std::int32_t BadRequest = 11011;
constexpr std::int32_t BadRoute = 11012;
constexpr std::int32_t TtlExpiredTransit = 11013;
constexpr std::int32_t TtlExpiredReassembly = 11014;
constexpr std::int32_t ParameterProblem = 11015;
constexpr std::int32_t SourceQuench = 11016;
constexpr std::int32_t OptionTooBig = 11017;
constexpr std::int32_t BadDestination = 11018;
constexpr std::int32_t AddressDeleted = 11019;
constexpr std::int32_t SpecMtuChange = 11020;
constexpr std::int32_t MtuChange = 11021;
constexpr std::int32_t GeneralFailure = 11050;
constexpr std::int32_t Pending = 11255;
}  // namespace IcmpStatus

namespace icmp {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;

// ICMPv6 has numbers of its own.
constexpr std::uint8_t kDestUnreachable6 = 1;
constexpr std::uint8_t kPacketTooBig6 = 2;
constexpr std::uint8_t kTimeExceeded6 = 3;
constexpr std::uint8_t kParameterProblem6 = 4;
constexpr std::uint8_t kEchoRequest6 = 128;
constexpr std::uint8_t kEchoReply6 = 129;

constexpr std::size_t kHeaderSize = 8;
// The largest echo payload one IPv4 datagram can carry (65535 - 20 - 8).
constexpr std::size_t kMaxPayload = 65507;

// The Internet checksum (one's complement of the one's complement sum of 16-bit words).
std::uint16_t checksum(std::span<const std::uint8_t> bytes);

// An echo request: header with checksum, then data. An ICMPv6 request (type kEchoRequest6)
// leaves the checksum 0: it covers the addresses too, and the system fills it in.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data,
                                           std::uint8_t type = kEchoRequest);

// One ICMP message with an echo-style header; payload views the bytes given to the parser.
struct Message {
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    bool checksumOk = false;
    std::span<const std::uint8_t> payload;
};

// Reads an ICMP message (no IP header in front); nullopt when shorter than a header.
std::optional<Message> parseMessage(std::span<const std::uint8_t> bytes);

// The fields of an IPv4 header that the ping component reports, and what follows it.
struct Ipv4Datagram {
    std::uint32_t source = 0;       // network order
    std::uint32_t destination = 0;  // network order
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;  // the three flag bits, shifted down: 0x2 is don't-fragment
    std::uint8_t protocol = 0;
    std::span<const std::uint8_t> payload;
};

// Reads an IPv4 datagram as a raw socket delivers it; nullopt when it is not IPv4 or its
// header does not fit. The payload is cut at the total length the header states.
std::optional<Ipv4Datagram> parseIpv4(std::span<const std::uint8_t> bytes);

// The status code for an ICMP error message of the given type and code.
std::int32_t statusForIcmpError(std::uint8_t type, std::uint8_t code);
// The same for an ICMPv6 error message.
std::int32_t statusForIcmp6Error(std::uint8_t type, std::uint8_t code);

// The status code for a request the system refused to send (errno of sendto).
std::int32_t statusForSendError(int err);

}  // namespace icmp
