// A network namespace of the test's own: loopback only, brought up, nothing else. Code run
// inside it can make 127.0.0.1 silent, shrink the loopback MTU or fail name lookups without
// any packet or query reaching the machine's real network.
#pragma once

#include <functional>
#include <string>

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

// Empty when the machine looks host names up only through files and DNS (/etc/nsswitch.conf),
// so a lookup inside a namespace cannot leave it by a local socket (nscd, systemd-resolved,
// mDNS); else why a test that needs a failing lookup must not run here.
std::string lookupsStayInside();

// The first name server of /etc/resolv.conf (the resolver's default when there is none).
std::string firstNameServer();

}  // namespace netns
