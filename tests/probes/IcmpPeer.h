// A scripted ICMP peer for tests inside a network namespace where the kernel itself does not
// answer echo requests (net.ipv4.icmp_echo_ignore_all=1). It watches the echo requests sent
// to 127.0.0.1 through a raw socket, records them, and answers each with the messages of its
// script: true replies, stray replies that must not count, or ICMP errors from a "router".
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class IcmpPeer {
  public:
    enum class Answer {
        Reply,               // the matching echo reply, from 127.0.0.1
        ReplyFromOther,      // identifier and sequence right, but from 127.0.0.2
        ReplyWrongSequence,  // from 127.0.0.1, sequence one off
        ReplyWrongId,        // from 127.0.0.1, identifier one off
        ReplyBadChecksum,    // from 127.0.0.1, matching but corrupted
        TimeExceeded,        // ICMP time exceeded in transit, from 127.0.0.3
        HostUnreachable,     // ICMP destination host unreachable, from 127.0.0.3
    };

    struct Request {
        std::uint8_t ttl = 0;
        bool dontFragment = false;
        std::uint16_t id = 0;
        std::uint16_t sequence = 0;
        std::vector<std::uint8_t> data;
    };

    // Starts watching, in the network namespace of the calling thread. The k-th request seen
    // is answered with script[k] (nothing when the script is shorter).
    explicit IcmpPeer(std::vector<std::vector<Answer>> script);
    ~IcmpPeer();
    IcmpPeer(const IcmpPeer&) = delete;
    IcmpPeer& operator=(const IcmpPeer&) = delete;

    std::vector<Request> requests() const;

  private:
    void run();
    void answer(const std::vector<std::uint8_t>& ipPacket, const Request& request, Answer how);

    std::vector<std::vector<Answer>> script_;
    int watch_ = -1;
    int other_ = -1;   // bound to 127.0.0.2
    int router_ = -1;  // bound to 127.0.0.3
    int stop_ = -1;
    mutable std::mutex mutex_;
    std::vector<Request> seen_;
    std::thread thread_;
};
