// Host lookups that fail or hang, each in a network of its own whose resolver is a local
// address, so no query leaves the sandbox.
#include <gtest/gtest.h>

#include <string>

#include "TcpTestHelpers.h"
#include "probes/TcpSocket.h"
#include "support/ResolverSandbox.h"

using namespace tcptest;

namespace {

// A name the hosts file does not know, so the lookup goes to the sandbox's name server.
constexpr const char* kUnknownName = "no-such-host.vardo-test";

// What Connect to the unknown name ended with, and whether OnConnectionFailed came.
std::string connectToUnknown(int timeOut, int cancelAfterMs) {
    TTcpSocket sock;
    bool failedEvent = false;
    sock.OnConnectionFailed = [&](TTcpSocket&) { failedEvent = true; };
    sock.Host = kUnknownName;
    sock.Port = 80;
    sock.TimeOut = timeOut;
    const auto start = Clock::now();
    std::string error;
    if (cancelAfterMs > 0) {
        DelayedCancel cancel(sock, milliseconds(cancelAfterMs));
        error = socketErrorOf([&] { sock.Connect(); });
    } else {
        error = socketErrorOf([&] { sock.Connect(); });
    }
    const long long took = msSince(start);
    return error + (failedEvent ? " +failed-event" : "") + " after " + std::to_string(took);
}

void expectOutcome(const SandboxOutcome& outcome, const std::string& error, long long atLeastMs,
                   long long below) {
    if (!outcome.ran) {
        GTEST_SKIP() << "network namespaces are not available: " << outcome.reason;
    }
    const std::string prefix = error + " after ";
    ASSERT_EQ(outcome.output.rfind(prefix, 0), 0u) << outcome.output;
    const long long took = std::stoll(outcome.output.substr(prefix.size()));
    EXPECT_GE(took, atLeastMs) << outcome.output;
    EXPECT_LT(took, below) << outcome.output;
}

TEST(TcpSocketLookup, ANameThatDoesNotResolveHasNoAddress) {
    // Nothing listens on the name server's port: the query is refused at once.
    const SandboxOutcome outcome = runWithPrivateResolver("nameserver 127.0.0.1\noptions attempts:1\n", false,
                                                          [] { return connectToUnknown(5000, 0); });
    expectOutcome(outcome, "Null Remote Address", 0, 4000);
}

TEST(TcpSocketLookup, ALookupLongerThanTimeOutTimesOut) {
    const SandboxOutcome outcome =
        runWithPrivateResolver("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n", true,
                               [] { return connectToUnknown(300, 0); });
    expectOutcome(outcome, "Host Lookup Timed Out", 300, 10000);
}

TEST(TcpSocketLookup, CancelEndsAnUnlimitedLookup) {
    const SandboxOutcome outcome =
        runWithPrivateResolver("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n", true,
                               [] { return connectToUnknown(0, 200); });
    expectOutcome(outcome, "Host Lookup Canceled", 150, 10000);
}

}  // namespace
