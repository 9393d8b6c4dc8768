// A peer on loopback answers with arbitrary bytes and closes; the socket reads them as a
// reply line with its number, then line by line and by count, as the probes and the mail
// client do. Nothing may read past what arrived, and every failure must be an exception of
// the socket's own kinds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "probes/TcpSocket.h"

namespace {

struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            std::abort();
        }
        port = ntohs(addr.sin_port);
    }
};

void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Listener listener;
    TTcpSocket sock;
    sock.Host = "127.0.0.1";
    sock.Port = listener.port;
    sock.TimeOut = 2000;
    try {
        sock.Connect();
    } catch (const ESocketError&) {
        std::abort();  // the listener is always there
    }
    const int peer = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) {
        std::abort();
    }
    writeAll(peer, data, size);
    ::shutdown(peer, SHUT_WR);
    try {
        const std::string first = sock.Transaction("NOOP");
        (void)NthField(first, ' ', 1);
        for (int lines = 0; lines < 1000; ++lines) {
            const std::string line = sock.ReadLn();
            if (line.empty()) {
                break;
            }
            (void)NthField(line, '-', lines % 4);
        }
        (void)sock.Read(0);
    } catch (const ESocketError&) {
    } catch (const std::out_of_range&) {
        // A reply number beyond 16 bits is a range error.
    }
    ::close(peer);
    try {
        sock.Disconnect();
    } catch (const ESocketError&) {
    }
    return 0;
}
