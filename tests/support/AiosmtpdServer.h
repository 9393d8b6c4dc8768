// A real mail server for the tests: python3-aiosmtpd on 127.0.0.1 and a free port, storing
// every mail it accepts (its HELO name, envelope and data as received) in a file. It may
// offer STARTTLS or speak TLS from the first byte, and take one login.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

class AiosmtpdServer {
  public:
    struct Options {
        std::string security = "none";  // "starttls" (required before MAIL) or "tls"
        std::string certFile;           // the server's certificate and key, with security
        std::string keyFile;
        // The one login the server takes (AUTH PLAIN and LOGIN, over TLS only); none when
        // user is empty.
        std::string user;
        std::string password;
        std::vector<std::string> excludedMechanisms;  // e.g. "PLAIN"
    };

    AiosmtpdServer() : AiosmtpdServer(Options{}) {}
    // refusedRecipients are refused with a 550 over three lines, as large providers send it.
    explicit AiosmtpdServer(const Options& options, const std::vector<std::string>& refusedRecipients = {});
    std::uint16_t port() const { return port_; }
    // Mails accepted so far.
    int delivered() const;
    // Mail n (from 0): "HELO <name>\n" (or "EHLO <name>\n"), "TLS\n" when the mail came over
    // TLS, "AUTH <user>\n" after a login, "FROM <sender>\n", one "RCPT <address>\n" per
    // recipient, "DATA\n", then the data bytes as the server received them, un-stuffed.
    std::string mail(int n) const;

  private:
    TempDir dir_;
    std::uint16_t port_ = 0;
    std::unique_ptr<SpawnedProcess> process_;
};
