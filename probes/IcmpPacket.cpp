#include "probes/IcmpPacket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace icmp {

namespace {

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

std::uint32_t readRaw32(std::span<const std::uint8_t> bytes, std::size_t at) {
    // Addresses stay in network order: copy the bytes as they are.
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

}  // namespace

namespace {

// The one's complement sum of the 16-bit words, not yet folded or inverted.
std::uint32_t wordSum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += read16(bytes, i);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    }
    return sum;
}

std::uint16_t finish(std::uint64_t sum) {
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

}  // namespace

std::uint16_t checksum(std::span<const std::uint8_t> bytes) {
    return finish(wordSum(bytes));
}

std::vector<std::uint8_t> buildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data, std::uint8_t type) {
    std::uint8_t header[kHeaderSize] = {type,
                                        0,
                                        0,
                                        0,
                                        static_cast<std::uint8_t>(id >> 8),
                                        static_cast<std::uint8_t>(id & 0xFF),
                                        static_cast<std::uint8_t>(sequence >> 8),
                                        static_cast<std::uint8_t>(sequence & 0xFF)};
    // The header has an even length, so the sums of its words and of the data's add up.
    const std::uint16_t sum =
        type == kEchoRequest6 ? 0 : finish(std::uint64_t{wordSum(header)} + wordSum(data));
    header[2] = static_cast<std::uint8_t>(sum >> 8);
    header[3] = static_cast<std::uint8_t>(sum & 0xFF);
    std::vector<std::uint8_t> packet(std::begin(header), std::end(header));
    packet.resize(kHeaderSize + data.size());
    std::copy(data.begin(), data.end(), packet.begin() + kHeaderSize);
    return packet;
}

std::optional<Message> parseMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderSize) {
        return std::nullopt;
    }
    Message m;
    m.type = bytes[0];
    m.code = bytes[1];
    m.id = read16(bytes, 4);
    m.sequence = read16(bytes, 6);
    m.checksumOk = checksum(bytes) == 0;
    m.payload = bytes.subspan(kHeaderSize);
    return m;
}

std::optional<Ipv4Datagram> parseIpv4(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kMinHeader = 20;
    if (bytes.size() < kMinHeader || (bytes[0] >> 4) != 4) {
        return std::nullopt;
    }
    const std::size_t headerLength = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    const std::size_t totalLength = read16(bytes, 2);
    if (headerLength < kMinHeader || headerLength > bytes.size() || totalLength < headerLength) {
        return std::nullopt;
    }
    Ipv4Datagram d;
    d.tos = bytes[1];
    d.flags = static_cast<std::uint8_t>(bytes[6] >> 5);
    d.ttl = bytes[8];
    d.protocol = bytes[9];
    d.source = readRaw32(bytes, 12);
    d.destination = readRaw32(bytes, 16);
    const std::size_t end = totalLength < bytes.size() ? totalLength : bytes.size();
    d.payload = bytes.subspan(headerLength, end - headerLength);
    return d;
}

std::int32_t statusForIcmpError(std::uint8_t type, std::uint8_t code) {
    switch (type) {
        case kDestUnreachable:
            switch (code) {
                case 0:   // network unreachable
                case 6:   // network unknown
                case 9:   // network administratively prohibited
                case 11:  // network unreachable for this type of service
                    return IcmpStatus::DestNetUnreachable;
                case 2:
                    return IcmpStatus::DestProtocolUnreachable;
                case 3:
                    return IcmpStatus::DestPortUnreachable;
                case 4:  // fragmentation needed but don't-fragment set
                    return IcmpStatus::PacketTooBig;
                case 5:  // source route failed
                    return IcmpStatus::BadRoute;
                default:  // host unreachable, unknown, isolated, prohibited, filtered
                    return IcmpStatus::DestHostUnreachable;
            }
        case kTimeExceeded:
            return code == 1 ? IcmpStatus::TtlExpiredReassembly : IcmpStatus::TtlExpiredTransit;
        case kParameterProblem:
            return IcmpStatus::ParameterProblem;
        case kSourceQuench:
            return IcmpStatus::SourceQuench;
        default:
            return IcmpStatus::GeneralFailure;
    }
}

std::int32_t statusForIcmp6Error(std::uint8_t type, std::uint8_t code) {
    switch (type) {
        case kDestUnreachable6:
            switch (code) {
                case 0:  // no route to destination
                case 6:  // reject route to destination
                    return IcmpStatus::DestNetUnreachable;
                case 4:
                    return IcmpStatus::DestPortUnreachable;
                default:  // prohibited, beyond scope, address unreachable, policy
                    return IcmpStatus::DestHostUnreachable;
            }
        case kPacketTooBig6:
            return IcmpStatus::PacketTooBig;
        case kTimeExceeded6:
            return code == 1 ? IcmpStatus::TtlExpiredReassembly : IcmpStatus::TtlExpiredTransit;
        case kParameterProblem6:
            return IcmpStatus::ParameterProblem;
        default:
            return IcmpStatus::GeneralFailure;
    }
}

std::int32_t statusForSendError(int err) {
    switch (err) {
        case ENETUNREACH:
        case ENETDOWN:
            return IcmpStatus::DestNetUnreachable;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return IcmpStatus::DestHostUnreachable;
        case EMSGSIZE:
            return IcmpStatus::PacketTooBig;
        case EACCES:  // a broadcast or prohibited destination
        case EADDRNOTAVAIL:
            return IcmpStatus::BadDestination;
        case ENOBUFS:
        case ENOMEM:
        case EAGAIN:
            return IcmpStatus::NoResources;
        case EINVAL:
            return IcmpStatus::BadRequest;
        default:
            return IcmpStatus::GeneralFailure;
    }
}

}  // namespace icmp
