// Host lookups that fail or hang, or that find an IPv6 address, each in a network of its own
// whose resolver is a local address, so no query leaves the sandbox: the TCP socket's and the
// ping's.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TcpTestHelpers.h"
#include "probes/HostLookup.h"
#include "probes/Ping.h"
#include "probes/TcpSocket.h"
#include "support/LoopbackServer.h"
#include "support/NetNamespace.h"
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

// The ping's lookup of a name the resolver never answers ends with its Timeout; the lookups
// given up on still run, and once there are as many as the limit allows, a ping fails at once.
TEST(PingLookup, AHangingLookupEndsWithTheTimeoutAndAbandonedOnesAreCapped) {
    const SandboxOutcome outcome =
        runWithPrivateResolver("nameserver 127.0.0.1\noptions timeout:3 attempts:1\n", true, [] {
            TIcmpEcho echo;
            echo.Timeout = 300;
            echo.SetAddress(kUnknownName);
            std::string shown;
            echo.OnDisplay = [&](TIcmpEcho&, const std::string& msg) { shown = msg; };
            std::string took;
            for (std::size_t i = 0; i <= AbandonedLookups::kLimit; ++i) {
                const auto start = Clock::now();
                echo.Ping();
                took += std::to_string(msSince(start)) + " ";
            }
            return took + "| " + shown;
        });
    if (!outcome.ran) {
        GTEST_SKIP() << "network namespaces are not available: " << outcome.reason;
    }
    std::istringstream in(outcome.output);
    for (std::size_t i = 0; i < AbandonedLookups::kLimit; ++i) {
        long long ms = -1;
        in >> ms;
        EXPECT_GE(ms, 250) << outcome.output;
        EXPECT_LT(ms, 2500) << outcome.output;
    }
    long long capped = -1;
    in >> capped;
    EXPECT_LT(capped, 150) << outcome.output;
    EXPECT_TRUE(outcome.output.ends_with("| Host Lookup Timed Out")) << outcome.output;
}

// A name with only an IPv6 address is checked over IPv6, one with both over IPv4 as before
// (TCP and ping alike).
TEST(HostLookupFamilies, OnlyAnIpv6NameIsReachedOverIpv6) {
    const SandboxOutcome outcome =
        runWithHostsFile("2001:db8:1::1 six-only\n127.0.0.1 dual\n2001:db8:1::1 dual\n", [] {
            if (!netns::addLoopbackAddress6("2001:db8:1::1")) {
                return std::string("cannot add 2001:db8:1::1");
            }
            LoopbackServer server6(LoopbackServer::silent(), "2001:db8:1::1");
            LoopbackServer server4(LoopbackServer::silent());
            std::string seen;
            for (const auto& [name, port] :
                 {std::pair{"six-only", server6.port()}, {"dual", server4.port()}}) {
                TTcpSocket sock;
                sock.Host = name;
                sock.Port = port;
                sock.TimeOut = 5000;
                const std::string error = socketErrorOf([&] { sock.Connect(); });
                TIcmpEcho echo;
                echo.SetAddress(name);
                const std::int32_t replies = echo.Ping();
                seen += std::string(name) + ": " + error + ", ping " + std::to_string(replies) + " " +
                        echo.HostIP() + (sock.RemoteAddress() != 0 ? " (IPv4)" : "") + "; ";
            }
            return seen;
        });
    if (!outcome.ran) {
        GTEST_SKIP() << "network namespaces are not available: " << outcome.reason;
    }
    EXPECT_EQ(outcome.output,
              "six-only: no exception, ping 1 2001:db8:1::1; dual: no exception, ping 1 127.0.0.1 (IPv4); ");
}

}  // namespace
