#include "support/TestCertificates.h"

#include <algorithm>
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
            std::vector<std::string>{"-x509", "-days", "400", "-out", caFile()},
        caFile());
}

std::string TestCertificates::request() {
    const std::string name = dir_.file("server" + std::to_string(issued_++));
    run(newKey(name + ".key", "/CN=mail server") + std::vector<std::string>{"-out", name + ".csr"},
        name + ".csr");
    return name;
}

TestCertificates::Server TestCertificates::server(const std::string& altNames, std::time_t notAfter) {
    const std::string name = request();
    writeFileBytes(name + ".ext", "subjectAltName=" + altNames + "\nextendedKeyUsage=serverAuth\n");
    // "openssl ca" is the tool that takes any validity, one in the past included.
    writeFileBytes(dir_.file("ca.cnf"),
                   "[ca]\ndefault_ca = test\n[test]\ndatabase = " + dir_.file("index.txt") +
                       "\nnew_certs_dir = " + dir_.path() + "\nserial = " + dir_.file("serial") +
                       "\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                       "[any]\ncommonName = supplied\n");
    writeFileBytes(dir_.file("index.txt"), "");
    writeFileBytes(dir_.file("serial"), std::to_string(10 + issued_) + "\n");
    const auto stamp = [](std::time_t t) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        char text[32];
        std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &tm);
        return std::string(text);
    };
    const std::time_t notBefore = std::min(notAfter, std::time(nullptr)) - 24 * 60 * 60;
    run({"openssl",    "ca",
         "-batch",     "-notext",
         "-config",    dir_.file("ca.cnf"),
         "-cert",      caFile(),
         "-keyfile",   dir_.file("ca.key"),
         "-in",        name + ".csr",
         "-startdate", stamp(notBefore),
         "-enddate",   stamp(notAfter),
         "-extfile",   name + ".ext",
         "-out",       name + ".pem"},
        name + ".pem");
    return {name + ".pem", name + ".key"};
}

TestCertificates::Server TestCertificates::server(const std::string& altNames) {
    const std::string name = request();
    writeFileBytes(name + ".ext", "subjectAltName=" + altNames + "\nextendedKeyUsage=serverAuth\n");
    run({"openssl", "x509", "-req", "-in", name + ".csr", "-CA", caFile(), "-CAkey", dir_.file("ca.key"),
         "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem"},
        name + ".pem");
    return {name + ".pem", name + ".key"};
}
