// A network namespace of the test's own: loopback only, brought up, nothing else. Code run
// inside it can make 127.0.0.1 silent, shrink the loopback MTU or fail name lookups without
// any packet or query reaching the machine's real network.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace netns {

// Runs body on a thread made for it, inside a fresh network namespace whose loopback is up.
// Threads, sockets and child processes the body creates live in that namespace too. Returns
// an empty text when the body ran, else why the namespace could not be made (the body did not
// run then; the caller skips).
std::string run(const std::function<void()>& body);

// Within run(): writes a sysctl of the namespace, e.g. "net/ipv4/icmp_echo_ignore_all".
bool setSysctl(const std::string& name, const std::string& value);
// Within run(): sets the loopback MTU.
bool setLoopbackMtu(int mtu);
// Within run(): gives the loopback one more IPv4 address (a host route).
bool addLoopbackAddress(const std::string& dotted);
// Within run() or a sandbox: gives the loopback one more IPv6 address (a host route), and
// returns once it can be used.
bool addLoopbackAddress6(const std::string& address);

// Within run(): a point-to-point link (a TUN device) with a route to an IPv6 prefix. What the
// namespace sends there reaches no host: left unread it is dropped, and a connection or a ping
// waits until it times out. A test may also read the packets and answer them.
class Ipv6Link {
  public:
    Ipv6Link(const std::string& prefix, int length);
    ~Ipv6Link();
    Ipv6Link(const Ipv6Link&) = delete;
    Ipv6Link& operator=(const Ipv6Link&) = delete;

    // Empty when the link is up and routed, else why not.
    const std::string& why() const { return why_; }
    // The next IPv6 packet sent over the link; empty when none came within limit.
    std::vector<std::uint8_t> receive(std::chrono::milliseconds limit);
    // Hands the namespace an IPv6 packet as if it had come over the link.
    void send(const std::vector<std::uint8_t>& packet);

  private:
    int fd_ = -1;
    std::string why_;
};

// Empty when the machine looks host names up only through files and DNS (/etc/nsswitch.conf),
// so a lookup inside a namespace cannot leave it by a local socket (nscd, systemd-resolved,
// mDNS); else why a test that needs a failing lookup must not run here.
std::string lookupsStayInside();

// The first name server of /etc/resolv.conf (the resolver's default when there is none).
std::string firstNameServer();

}  // namespace netns
