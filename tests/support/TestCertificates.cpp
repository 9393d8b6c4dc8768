#include "support/TestCertificates.h"

#include <stdexcept>

#include "support/SpawnedProcess.h"

namespace {

// A short-lived EC key: quick to make, and nothing here needs it to last.
std::vector<std::string> newKey(const std::string& keyFile, const std::string& subject) {
    return {"openssl", "req",   "-newkey", "ec",      "-pkeyopt", "ec_paramgen_curve:P-256",
            "-nodes",  "-subj", subject,   "-keyout", keyFile};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

void TestCertificates::run(const std::vector<std::string>& argv, const std::string& made) {
    const std::string log = dir_.file("openssl.out");
    SpawnedProcess tool(argv, {}, log);
    if (!waitUntil([&] { return !tool.alive(); }) || readFileBytes(made).empty()) {
        throw std::runtime_error("openssl failed: " + readFileBytes(log));
    }
}

TestCertificates::TestCertificates() {
    run(newKey(dir_.file("ca.key"), "/CN=Vardo Test CA") +
            std::vector<std::string>{"-x509", "-days", "2", "-out", caFile()},
        caFile());
}

TestCertificates::Server TestCertificates::server(const std::string& altNames) {
    const std::string name = dir_.file("server" + std::to_string(issued_++));
    run(newKey(name + ".key", "/CN=mail server") + std::vector<std::string>{"-out", name + ".csr"},
        name + ".csr");
    writeFileBytes(name + ".ext", "subjectAltName=" + altNames + "\nextendedKeyUsage=serverAuth\n");
    run({"openssl", "x509", "-req", "-in", name + ".csr", "-CA", caFile(), "-CAkey", dir_.file("ca.key"),
         "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem"},
        name + ".pem");
    return {name + ".pem", name + ".key"};
}
