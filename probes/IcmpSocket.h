// One ICMP socket that sends an echo request and waits for the reply that belongs to it.
//
// An unprivileged ICMP datagram socket is used where the system allows it
// (net.ipv4.ping_group_range), else a raw ICMP socket (root or CAP_NET_RAW). Replies are
// matched on identifier, sequence number and source address, so another program's ping or a
// late reply to an earlier request never counts. ICMP errors about the request (destination
// unreachable, time exceeded, ...) arrive through the socket's error queue (IP_RECVERR).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "probes/IcmpPacket.h"

class IcmpSocket {
  public:
    enum class Kind { None, Datagram, Raw };

    struct Request {
        std::uint32_t address = 0;  // IPv4, network order
        std::span<const std::uint8_t> data;
        std::uint8_t ttl = 64;
        std::uint8_t flags = 0;  // IP header flags; 0x2 is don't-fragment
        std::int32_t timeoutMs = 4000;
    };

    struct Outcome {
        // IcmpStatus::Success when the echo reply came, else why not.
        std::int32_t status = IcmpStatus::RequestTimedOut;
        bool replied = false;
        bool cancelled = false;
        // Who answered: the host, or the router that reported an error. Network order.
        std::uint32_t from = 0;
        std::uint32_t roundTripMs = 0;
        // Of the reply's IP header, where the socket reports them.
        std::uint8_t ttl = 0;
        std::uint8_t tos = 0;
        std::uint8_t flags = 0;
        std::vector<std::uint8_t> data;
    };

    // Opens the socket; never throws. A socket that cannot be had leaves kind() None and
    // openError() tells why.
    IcmpSocket();
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    Kind kind() const { return kind_; }
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
    bool cancelPending() const;

    Kind kind_ = Kind::None;
    int fd_ = -1;
    int cancelFd_ = -1;
    int openError_ = 0;
    std::uint16_t id_ = 0;
    std::uint16_t sequence_ = 0;
    std::vector<std::uint8_t> buffer_;
};
