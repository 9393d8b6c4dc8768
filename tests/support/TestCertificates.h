// A certificate authority of its own for one test, made with the openssl tool in a temporary
// folder, and the server certificates it signs.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "support/TempDir.h"

class TestCertificates {
  public:
    struct Server {
        std::string certFile;
        std::string keyFile;
    };

    // Makes the authority; throws std::runtime_error when the tool fails.
    TestCertificates();
    // The authority's certificate (PEM), to be trusted by the client.
    std::string caFile() const { return dir_.file("ca.pem"); }
    // A key and a certificate signed by the authority for the subjectAltName entries, e.g.
    // "DNS:localhost,IP:127.0.0.1".
    Server server(const std::string& altNames);
    // The same, valid from a day before notAfter (or before now) until notAfter, which may
    // have passed.
    Server server(const std::string& altNames, std::time_t notAfter);

  private:
    // A key and its signing request; returns the common part of the file names.
    std::string request();
    // Runs the openssl tool; made is the file it must have written.
    void run(const std::vector<std::string>& argv, const std::string& made);

    TempDir dir_;
    int issued_ = 0;
};
