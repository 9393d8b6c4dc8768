// A real web server for one test: nginx on 127.0.0.1, configured in a temporary folder with
// the locations the test gives, over TLS when given a certificate. Stopped when it goes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/SpawnedProcess.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

class NginxServer {
  public:
    // locations: nginx directives for the server block ("location = /a { return 200 a; }").
    // Throws std::runtime_error when nginx does not start listening.
    explicit NginxServer(const std::string& locations,
                         const std::optional<TestCertificates::Server>& tls = std::nullopt);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:port" + path, or https with a certificate; host replaces the address.
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;

  private:
    TempDir dir_;
    std::uint16_t port_ = 0;
    bool tls_ = false;
    std::unique_ptr<SpawnedProcess> process_;
};
