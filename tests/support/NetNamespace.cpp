#include "support/NetNamespace.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
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
    ControlSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
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
