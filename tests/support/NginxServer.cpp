#include "support/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/LoopbackServer.h"

namespace {

bool listening(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

}  // namespace

NginxServer::NginxServer(const std::string& locations, const std::optional<TestCertificates::Server>& tls)
    : port_(RefusingPort().port()), tls_(tls.has_value()) {
    // nginx cannot listen on port 0: the port is one the system had free a moment ago.
    const std::string d = dir_.path();
    std::string listen = "listen 127.0.0.1:" + std::to_string(port_);
    if (tls) {
        listen += " ssl; ssl_certificate " + tls->certFile + "; ssl_certificate_key " + tls->keyFile;
    }
    writeFileBytes(dir_.file("nginx.conf"), "daemon off; master_process off; pid " + d +
                                                "/nginx.pid; error_log " + d +
                                                "/error.log;\n"
                                                "events { worker_connections 64; }\n"
                                                "http {\n access_log off;\n"
                                                " client_body_temp_path " +
                                                d + "/body; proxy_temp_path " + d +
                                                "/proxy;\n"
                                                " fastcgi_temp_path " +
                                                d + "/fastcgi; uwsgi_temp_path " + d +
                                                "/uwsgi;\n"
                                                " scgi_temp_path " +
                                                d +
                                                "/scgi;\n"
                                                " server {\n  " +
                                                listen + ";\n  " + locations + "\n }\n}\n");
    process_ = std::make_unique<SpawnedProcess>(
        std::vector<std::string>{"/usr/sbin/nginx", "-p", d, "-c", dir_.file("nginx.conf")},
        std::vector<std::string>{}, dir_.file("nginx.out"));
    if (!waitUntil([&] { return listening(port_) || !process_->alive(); }) || !process_->alive()) {
        throw std::runtime_error("nginx did not start: " + readFileBytes(dir_.file("nginx.out")) +
                                 readFileBytes(dir_.file("error.log")));
    }
}

NginxServer::~NginxServer() {
    process_->stop();
}

std::string NginxServer::url(const std::string& path, const std::string& host) const {
    return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}
