#include "support/ResolverSandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "support/TempDir.h"

namespace {

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

// Returns an empty text on success, else why the sandbox could not be set up.
std::string enterSandbox(const std::string& resolvPath, const std::string& hostsPath, bool silentNameServer) {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        return std::string("unshare: ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("private mounts: ") + std::strerror(errno);
    }
    if (::mount(resolvPath.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        return std::string("bind resolv.conf: ") + std::strerror(errno);
    }
    if (!hostsPath.empty() && ::mount(hostsPath.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        return std::string("bind hosts: ") + std::strerror(errno);
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s < 0 || ::ioctl(s, SIOCGIFFLAGS, &ifr) != 0) {
        return std::string("loopback flags: ") + std::strerror(errno);
    }
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0) {
        return std::string("loopback up: ") + std::strerror(errno);
    }
    ::close(s);
    if (silentNameServer) {
        // Kept open until the child ends; queries pile up unanswered.
        const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(53);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (dns < 0 || ::bind(dns, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            return std::string("silent name server: ") + std::strerror(errno);
        }
    }
    return {};
}

SandboxOutcome runSandboxed(const std::string& resolvConf, const std::string* hostsFile,
                            bool silentNameServer, const std::function<std::string()>& body) {
    TempDir dir;
    const std::string resolvPath = dir.file("resolv.conf");
    writeFileBytes(resolvPath, resolvConf);
    const std::string hostsPath = hostsFile != nullptr ? dir.file("hosts") : std::string();
    if (hostsFile != nullptr) {
        writeFileBytes(hostsPath, *hostsFile);
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {false, {}, "pipe failed"};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {false, {}, "fork failed"};
    }
    if (pid == 0) {
        ::close(fds[0]);
        const std::string why = enterSandbox(resolvPath, hostsPath, silentNameServer);
        if (!why.empty()) {
            writeAll(fds[1], "S" + why);
            ::_exit(0);
        }
        std::string out;
        try {
            out = body();
        } catch (const std::exception& e) {
            out = std::string("exception: ") + e.what();
        }
        writeAll(fds[1], "R" + out);
        // Threads the body left behind (an abandoned lookup) end with the process.
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string got;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got.empty()) {
        // A child that dies before reporting is a failure of the body, not a skip.
        return {true, "the sandbox ended without a result (status " + std::to_string(status) + ")", {}};
    }
    if (got[0] == 'S') {
        return {false, {}, got.substr(1)};
    }
    return {true, got.substr(1), {}};
}

}  // namespace

SandboxOutcome runWithPrivateResolver(const std::string& resolvConf, bool silentNameServer,
                                      const std::function<std::string()>& body) {
    return runSandboxed(resolvConf, nullptr, silentNameServer, body);
}

SandboxOutcome runWithHostsFile(const std::string& hostsFile, const std::function<std::string()>& body) {
    return runSandboxed("nameserver 127.0.0.1\noptions attempts:1\n", &hostsFile, false, body);
}
