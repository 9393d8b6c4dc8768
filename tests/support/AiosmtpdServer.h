// A real mail server for the tests: python3-aiosmtpd on 127.0.0.1 and a free port, storing
// every mail it accepts (its HELO name, envelope and data as received) in a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

class AiosmtpdServer {
  public:
    AiosmtpdServer();
    std::uint16_t port() const { return port_; }
    // Mails accepted so far.
    int delivered() const;
    // Mail n (from 0): "HELO <name>\n", "FROM <sender>\n", one "RCPT <address>\n" per
    // recipient, "DATA\n", then the data bytes as the server received them, un-stuffed.
    std::string mail(int n) const;

  private:
    TempDir dir_;
    std::uint16_t port_ = 0;
    std::unique_ptr<SpawnedProcess> process_;
};
