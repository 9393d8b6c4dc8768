// One ICMP socket, of IPv4 or of IPv6 (ICMPv6), that sends an echo request and waits for the
// reply that belongs to it.
//
// An unprivileged ICMP datagram socket is used where the system allows it
// (net.ipv4.ping_group_range, which covers ICMPv6 too), else a raw ICMP socket (root or
// CAP_NET_RAW). Replies are matched on identifier, sequence number and source address, so
// another program's ping or a late reply to an earlier request never counts. ICMP errors about
// the request (destination unreachable, time exceeded, packet too big, ...) arrive through the
// socket's error queue (IP_RECVERR, IPV6_RECVERR).
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <span>
#include <vector>

#include "probes/IcmpPacket.h"
#include "probes/NetAddress.h"

class IcmpSocket {
  public:
    enum class Kind { None, Datagram, Raw };

    struct Request {
        NetAddress address;  // of the socket's family
        std::span<const std::uint8_t> data;
        std::uint8_t ttl = 64;   // the hop limit over IPv6
        std::uint8_t flags = 0;  // IP header flags; 0x2 is don't-fragment
        std::int32_t timeoutMs = 4000;
    };

    struct Outcome {
        // IcmpStatus::Success when the echo reply came, else why not.
        std::int32_t status = IcmpStatus::RequestTimedOut;
        bool replied = false;
        bool cancelled = false;
        // Who answered: the host, or the router that reported an error.
        NetAddress from;
        std::uint32_t roundTripMs = 0;
        // Of the reply's IP header, where the socket reports them: over IPv6 the hop limit and
        // the traffic class.
        std::uint8_t ttl = 0;
        std::uint8_t tos = 0;
        std::uint8_t flags = 0;
        std::vector<std::uint8_t> data;
    };

    // Opens the socket for AF_INET or AF_INET6; never throws. A socket that cannot be had
    // leaves kind() None and openError() tells why.
    explicit IcmpSocket(int family = AF_INET);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    Kind kind() const { return kind_; }
    int family() const { return family_; }
    bool isOpen() const { return kind_ != Kind::None; }
    // The errno of the failed open; 0 when open.
    int openError() const { return openError_; }
    // The identifier of this socket's requests.
    std::uint16_t identifier() const { return id_; }

    // Sends one request and waits for its reply, an ICMP error about it, the time-out, or
    // cancel(). Must not be called while closed.
    Outcome echo(const Request& request);

    enum class Wait { Ready, Cancelled, TimedOut };
    // Waits until fd is readable, cancel() comes, or timeoutMs (0 or less: no wait) have passed.
    Wait waitReadable(int fd, std::int32_t timeoutMs);
    // Forgets a cancel() that arrived before this point.
    void resetCancel();
    // Ends the wait in progress (or the next one) at once. Safe from any thread.
    void cancel();

  private:
    bool readReplies(const Request& request, std::uint16_t sequence, Outcome& out);
    bool readErrors(const Request& request, std::uint16_t sequence, Outcome& out);
    void drain();
    bool applyOptions(const Request& request);
    bool v6() const { return family_ == AF_INET6; }
    bool cancelPending() const;

    int family_;
    Kind kind_ = Kind::None;
    int fd_ = -1;
    int cancelFd_ = -1;
    int openError_ = 0;
    std::uint16_t id_ = 0;
    std::uint16_t sequence_ = 0;
    std::vector<std::uint8_t> buffer_;
};
