#include "support/NetNamespace.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace netns {

namespace {

// A socket for interface ioctls; it belongs to the namespace of the thread that opens it.
class ControlSocket {
  public:
    explicit ControlSocket(int family = AF_INET) : fd_(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~ControlSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

ifreq request(const char* name) {
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

bool bringUp(int fd, const char* name) {
    ifreq ifr = request(name);
    if (::ioctl(fd, SIOCGIFFLAGS, &ifr) < 0) {
        return false;
    }
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    return ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
}

bool setAddress(int fd, const char* name, unsigned long which, in_addr_t address) {
    ifreq ifr = request(name);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    std::memcpy(&ifr.ifr_addr, &sin, sizeof sin);
    return ::ioctl(fd, which, &ifr) == 0;
}

}  // namespace

std::string run(const std::function<void()>& body) {
    std::string why;
    std::thread worker([&] {
        // Namespaces belong to threads: only this thread (and what it starts) moves.
        if (::unshare(CLONE_NEWNET) != 0) {
            why = std::string("cannot create a network namespace (unshare: ") + std::strerror(errno) + ")";
            return;
        }
        ControlSocket control;
        if (control.fd() < 0 || !bringUp(control.fd(), "lo")) {
            why = std::string("cannot bring up loopback in the namespace: ") + std::strerror(errno);
            return;
        }
        body();
    });
    worker.join();
    return why;
}

bool setSysctl(const std::string& name, const std::string& value) {
    std::ofstream out("/proc/sys/" + name);
    out << value << '\n';
    out.close();
    return static_cast<bool>(out);
}

bool setLoopbackMtu(int mtu) {
    ControlSocket control;
    ifreq ifr = request("lo");
    ifr.ifr_mtu = mtu;
    return control.fd() >= 0 && ::ioctl(control.fd(), SIOCSIFMTU, &ifr) == 0;
}

bool addLoopbackAddress(const std::string& dotted) {
    static std::atomic<int> aliases{0};
    in_addr a{};
    if (::inet_aton(dotted.c_str(), &a) == 0) {
        return false;
    }
    const std::string alias = "lo:" + std::to_string(++aliases);
    ControlSocket control;
    return control.fd() >= 0 && setAddress(control.fd(), alias.c_str(), SIOCSIFADDR, a.s_addr) &&
           setAddress(control.fd(), alias.c_str(), SIOCSIFNETMASK, 0xFFFFFFFFu) &&
           bringUp(control.fd(), alias.c_str());
}

bool addLoopbackAddress6(const std::string& address) {
    // The kernel's in6_ifreq.
    struct {
        in6_addr address;
        std::uint32_t prefixLength;
        int interfaceIndex;
    } request{};
    if (::inet_pton(AF_INET6, address.c_str(), &request.address) != 1) {
        return false;
    }
    request.prefixLength = 128;
    request.interfaceIndex = static_cast<int>(::if_nametoindex("lo"));
    ControlSocket control(AF_INET6);
    if (control.fd() < 0 || ::ioctl(control.fd(), SIOCSIFADDR, &request) != 0) {
        return false;
    }
    // A new address is tentative for a moment, and meanwhile neither a source nor a destination:
    // it is ready once a socket can be bound to it.
    sockaddr_in6 bound{};
    bound.sin6_family = AF_INET6;
    bound.sin6_addr = request.address;
    for (int tries = 0; tries < 500; ++tries) {
        ControlSocket probe(AF_INET6);
        if (::bind(probe.fd(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Ipv6Link::Ipv6Link(const std::string& prefix, int length) {
    const char* name = "vardo6";
    fd_ = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    ifreq ifr = request(name);
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    ControlSocket control;
    if (fd_ < 0 || ::ioctl(fd_, TUNSETIFF, &ifr) != 0 || !bringUp(control.fd(), name)) {
        why_ = std::string("cannot set up a TUN link: ") + std::strerror(errno);
        return;
    }
    in6_rtmsg route{};
    route.rtmsg_dst_len = static_cast<std::uint16_t>(length);
    route.rtmsg_metric = 1;
    route.rtmsg_flags = RTF_UP;
    route.rtmsg_ifindex = static_cast<int>(::if_nametoindex(name));
    ControlSocket control6(AF_INET6);
    if (::inet_pton(AF_INET6, prefix.c_str(), &route.rtmsg_dst) != 1 ||
        ::ioctl(control6.fd(), SIOCADDRT, &route) != 0) {
        why_ = "cannot route " + prefix + " to the TUN link: " + std::strerror(errno);
    }
}

Ipv6Link::~Ipv6Link() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::vector<std::uint8_t> Ipv6Link::receive(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::vector<std::uint8_t> packet(65536);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) {
            return {};
        }
        const ssize_t n = ::read(fd_, packet.data(), packet.size());
        // The system's own messages to the link (router solicitations, listener reports) go to
        // multicast addresses; they are not what a test waits for.
        constexpr std::size_t kDestination = 24;
        if (n > 40 && (packet[0] >> 4) == 6 && packet[kDestination] != 0xFF) {
            packet.resize(static_cast<std::size_t>(n));
            return packet;
        }
    }
}

void Ipv6Link::send(const std::vector<std::uint8_t>& packet) {
    [[maybe_unused]] const ssize_t n = ::write(fd_, packet.data(), packet.size());
}

std::string lookupsStayInside() {
    std::ifstream in("/etc/nsswitch.conf");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key != "hosts:") {
            continue;
        }
        std::string source;
        while (words >> source) {
            if (source != "files" && source != "dns") {
                return "host lookups here also use \"" + source +
                       "\", which could carry a lookup out of the test's network namespace";
            }
        }
        return {};
    }
    return {};
}

std::string firstNameServer() {
    std::ifstream in("/etc/resolv.conf");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (words >> key >> value && key == "nameserver") {
            return value;
        }
    }
    return "127.0.0.1";
}

}  // namespace netns
