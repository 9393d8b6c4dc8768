#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IcmpPeer.h"
#include "probes/Ping.h"
#include "support/NetNamespace.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

std::string bytesText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string expectedData(std::size_t size) {
    std::string data(size, ' ');
    const std::string id = TIcmpEcho::kIdentification;
    data.replace(0, std::min(size, id.size()), id.substr(0, std::min(size, id.size())));
    return data;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Which kind of ICMP socket the namespace lets an engine open.
void allowSocketKind(IcmpSocket::Kind kind) {
    ASSERT_TRUE(netns::setSysctl("net/ipv4/ping_group_range",
                                 kind == IcmpSocket::Kind::Datagram ? "0 2147483647" : "1 0"));
}

void silenceKernelEcho() {
    ASSERT_TRUE(netns::setSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
}

// A name server that takes queries and never answers, at the address the resolver asks, inside
// the namespace; a lookup then waits until it is given up.
class SilentNameServer {
  public:
    SilentNameServer() {
        const std::string address = netns::firstNameServer();
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(53);
        if (::inet_aton(address.c_str(), &sin.sin_addr) == 0) {
            why_ = "the first name server (" + address + ") is not an IPv4 address";
            return;
        }
        if ((sin.sin_addr.s_addr & htonl(0xFF000000u)) != htonl(0x7F000000u) &&
            !netns::addLoopbackAddress(address)) {
            why_ = "cannot add " + address + " to the namespace's loopback";
            return;
        }
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
            why_ = std::string("cannot bind the silent name server: ") + std::strerror(errno);
        }
    }
    ~SilentNameServer() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;
    const std::string& why() const { return why_; }

  private:
    int fd_ = -1;
    std::string why_;
};

// Completions handed to a TPinger's dispatcher, run when the test says so (as a window's
// event loop would run them).
class CompletionQueue {
  public:
    TPinger::Dispatcher dispatcher() {
        return [this](std::function<void()> completion) {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(completion));
            ready_.notify_all();
        };
    }
    bool runOne(milliseconds limit = milliseconds(10000)) {
        std::function<void()> next;
        {
            std::unique_lock lock(mutex_);
            if (!ready_.wait_for(lock, limit, [this] { return !queue_.empty(); })) {
                return false;
            }
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        next();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
};

// Drops CAP_NET_RAW from the calling thread (capabilities belong to threads).
bool dropNetRaw() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[0].effective &= ~(1U << CAP_NET_RAW);
    data[0].permitted &= ~(1U << CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

// An ICMPv6 error of the given type and code about request (an IPv6 packet), from the router
// 2001:db8:2::fe, as it would arrive over the link. A Packet Too Big message names MTU 1280.
std::vector<std::uint8_t> icmp6Error(int type, int code, const std::vector<std::uint8_t>& request) {
    std::vector<std::uint8_t> message = {static_cast<std::uint8_t>(type),
                                         static_cast<std::uint8_t>(code),
                                         0,
                                         0,
                                         0,
                                         0,
                                         static_cast<std::uint8_t>(type == 2 ? 5 : 0),
                                         0};
    message.insert(message.end(), request.begin(), request.end());
    std::vector<std::uint8_t> packet(40);
    packet[0] = 0x60;
    packet[4] = static_cast<std::uint8_t>(message.size() >> 8);
    packet[5] = static_cast<std::uint8_t>(message.size() & 0xFF);
    packet[6] = IPPROTO_ICMPV6;
    packet[7] = 64;
    ::inet_pton(AF_INET6, "2001:db8:2::fe", &packet[8]);
    std::copy(request.begin() + 8, request.begin() + 24, packet.begin() + 24);  // to the requester
    // The checksum covers a pseudo-header: both addresses, the length and the next header.
    std::vector<std::uint8_t> summed(packet.begin() + 8, packet.end());
    summed.insert(summed.end(), {0, 0, packet[4], packet[5], 0, 0, 0, IPPROTO_ICMPV6});
    summed.insert(summed.end(), message.begin(), message.end());
    const std::uint16_t sum = icmp::checksum(summed);
    message[2] = static_cast<std::uint8_t>(sum >> 8);
    message[3] = static_cast<std::uint8_t>(sum & 0xFF);
    packet.insert(packet.end(), message.begin(), message.end());
    return packet;
}

// Bytes waiting in the receive queues of every raw socket of this thread's namespace.
long rawSocketsQueued() {
    long total = 0;
    for (const char* table : {"/proc/thread-self/net/raw", "/proc/thread-self/net/raw6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 5; ++i) {
                fields >> field;  // slot, local, remote, state, then "tx_queue:rx_queue"
            }
            total += std::stol(field.substr(field.find(':') + 1), nullptr, 16);
        }
    }
    return total;
}

#define SKIP_UNLESS_RAN(why)              \
    do {                                  \
        const std::string reason = (why); \
        if (!reason.empty()) {            \
            GTEST_SKIP() << reason;       \
        }                                 \
    } while (false)

}  // namespace

TEST(IcmpErrorText, KnownCodesAndTheRest) {
    EXPECT_EQ(TIcmpEcho::ErrorText(0), "No error");
    EXPECT_EQ(TIcmpEcho::ErrorText(11010), "Request timed out");
    EXPECT_EQ(TIcmpEcho::ErrorText(11013), "TTL expired in transit");
    EXPECT_EQ(TIcmpEcho::ErrorText(11018), "Bad Destination");
    EXPECT_EQ(TIcmpEcho::ErrorText(11255), "Pending");
    EXPECT_EQ(TIcmpEcho::ErrorText(12345), "ICMP error #12345");
    EXPECT_EQ(TIcmpEcho::ErrorText(11022), "ICMP error #11022");
    EXPECT_EQ(TIcmpEcho::ErrorText(-1), "ICMP error #-1");
}

TEST(IcmpPacket, ReadersStayInsideWhatTheyAreGiven) {
    const std::vector<std::uint8_t> data = {'a', 'b', 'c'};
    const std::vector<std::uint8_t> request = icmp::buildEchoRequest(0x1234, 0xBEEF, data);
    const auto m = icmp::parseMessage(request);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->checksumOk);
    EXPECT_EQ(m->id, 0x1234);
    EXPECT_EQ(m->sequence, 0xBEEF);
    EXPECT_EQ(m->payload.size(), 3U);
    EXPECT_FALSE(icmp::parseMessage(std::span(request).first(7)));

    std::vector<std::uint8_t> ip(20, 0);
    ip[0] = 0x45;
    ip[3] = 20 + static_cast<std::uint8_t>(request.size());
    ip.insert(ip.end(), request.begin(), request.end());
    const auto d = icmp::parseIpv4(ip);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->payload.size(), request.size());
    // The stated total length cuts trailing bytes; a header longer than the data is refused.
    ip.push_back(0xEE);
    EXPECT_EQ(icmp::parseIpv4(ip)->payload.size(), request.size());
    ip[0] = 0x4F;  // a 60-byte header in 32 bytes
    EXPECT_FALSE(icmp::parseIpv4(ip));
    ip[0] = 0x45;
    ip[3] = 19;  // a total shorter than the header
    EXPECT_FALSE(icmp::parseIpv4(ip));
    ip[3] = 31;
    ip[0] = 0x44;
    EXPECT_FALSE(icmp::parseIpv4(ip));
    ip[0] = 0x65;
    EXPECT_FALSE(icmp::parseIpv4(ip));
}

TEST(PingLoopback, AnswersAndReportsTheReply) {
    TIcmpEcho echo;
    ASSERT_EQ(echo.InitError(), "") << echo.InitErrorDetail();
    std::vector<std::string> events;
    echo.OnEchoRequest = [&](TIcmpEcho& sender) {
        EXPECT_EQ(&sender, &echo);
        events.push_back("request");
    };
    echo.OnEchoReply = [&](TIcmpEcho&, std::int32_t n) { events.push_back("reply " + std::to_string(n)); };
    echo.SetAddress("127.0.0.1");
    EXPECT_EQ(echo.Ping(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"request", "reply 1"}));
    EXPECT_EQ(echo.LastError(), 0);
    EXPECT_EQ(echo.GetErrorString(), "No error");
    EXPECT_EQ(echo.HostName(), "127.0.0.1");
    EXPECT_EQ(echo.HostIP(), "127.0.0.1");
    EXPECT_EQ(echo.IPAddress(), kLoopback);
    EXPECT_EQ(echo.Reply().address, kLoopback);
    EXPECT_EQ(echo.Reply().status, 0U);
    EXPECT_EQ(echo.Reply().dataSize, 56);
    EXPECT_EQ(echo.Reply().data, 28U);
    EXPECT_GT(echo.Reply().options.ttl, 0);
    EXPECT_EQ(bytesText(echo.ReplyData()), expectedData(56));
    // A cancel that came before a request does not end it.
    echo.cancel();
    EXPECT_EQ(echo.Ping(), 1);
}

TEST(PingLoopback, AMappedAddressGoesOverIpv4AndAnUnspecifiedOneFailsAtOnce) {
    TIcmpEcho echo;
    echo.SetAddress("::ffff:127.0.0.1");
    EXPECT_EQ(echo.Ping(), 1) << echo.GetErrorString();
    EXPECT_EQ(echo.HostIP(), "127.0.0.1");
    for (const char* none : {"::", "0.0.0.0"}) {
        echo.SetAddress(none);
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Bad Destination") << none;
    }
}

TEST(PingLoopback, SizeDecidesHowMuchOfTheIdentificationIsSent) {
    ASSERT_EQ(std::strlen(TIcmpEcho::kIdentification), 45U);
    TIcmpEcho echo;
    echo.SetAddress("127.0.0.1");
    echo.Size = 10;
    ASSERT_EQ(echo.Ping(), 1) << echo.GetErrorString();
    EXPECT_EQ(bytesText(echo.ReplyData()), std::string(TIcmpEcho::kIdentification, 10));
    echo.Size = 100;
    ASSERT_EQ(echo.Ping(), 1) << echo.GetErrorString();
    EXPECT_EQ(bytesText(echo.ReplyData()), std::string(TIcmpEcho::kIdentification) + std::string(55, ' '));
    echo.Size = 0;
    ASSERT_EQ(echo.Ping(), 1) << echo.GetErrorString();
    EXPECT_TRUE(echo.ReplyData().empty());
    echo.Size = -1;
    EXPECT_EQ(echo.Ping(), 0);
    EXPECT_EQ(echo.GetErrorString(), "Bad request");
}

TEST(PingNamespace, SetAddressKeepsTheResolutionOfTheSameText) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        TIcmpEcho echo;
        echo.SetAddress("localhost");
        ASSERT_EQ(echo.Ping(), 1) << echo.GetErrorString();
        EXPECT_TRUE(echo.AddrResolved());
        EXPECT_EQ(echo.HostIP(), "127.0.0.1");
        echo.SetAddress("localhost");
        EXPECT_TRUE(echo.AddrResolved());
        echo.SetAddress("LOCALHOST");
        EXPECT_FALSE(echo.AddrResolved());
        echo.SetAddress("127.0.0.1");
        EXPECT_FALSE(echo.AddrResolved());
        ASSERT_EQ(echo.Ping(), 1);
        EXPECT_EQ(echo.HostName(), "127.0.0.1");
    }));
}

TEST(PingNamespace, AnUnresolvableNameIsABadDestinationAtOnce) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        TPinger png;
        std::vector<std::string> shown;
        png.OnDisplay = [&](TPinger& sender, TIcmpEcho& icmp, const std::string& msg) {
            EXPECT_EQ(&sender, &png);
            EXPECT_EQ(&icmp, &png.Icmp());
            shown.push_back(msg);
        };
        png.SetAddress("no-such-host.invalid");
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(png.Ping(), 0);
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(png.GetErrorCode(), 11018);
        EXPECT_EQ(png.GetErrorString(), "Bad Destination");
        EXPECT_EQ(shown, (std::vector<std::string>{"Unable to resolve no-such-host.invalid",
                                                   "Invalid host address"}));
        EXPECT_FALSE(png.Icmp().AddrResolved());
        // A failed resolution is tried again by the next request.
        shown.clear();
        EXPECT_EQ(png.Ping(), 0);
        EXPECT_EQ(shown.size(), 2U);
    }));
}

TEST(PingNamespace, ASilentHostTimesOut) {
    SKIP_UNLESS_RAN(netns::run([] {
        silenceKernelEcho();
        TIcmpEcho echo;
        echo.Timeout = 600;
        echo.SetAddress("127.0.0.1");
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        const long long took = msSince(start);
        EXPECT_GE(took, 590);
        EXPECT_LT(took, 3000);
        EXPECT_EQ(echo.LastError(), 11010);
        EXPECT_EQ(echo.GetErrorString(), "Request timed out");
        EXPECT_EQ(echo.Reply().address, 0U);
    }));
}

TEST(PingNamespace, AnIdleRawSocketQueuesNoReplyMeantForAnother) {
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(IcmpSocket::Kind::Raw);
        TIcmpEcho idle;
        TIcmpEcho echo;
        ASSERT_EQ(idle.SocketKind(), IcmpSocket::Kind::Raw);
        for (const char* address : {"127.0.0.1", "::1"}) {
            echo.SetAddress(address);
            ASSERT_EQ(echo.Ping(), 1) << address << ": " << echo.GetErrorString();
        }
        EXPECT_EQ(rawSocketsQueued(), 0);
    }));
}

TEST(PingNamespace, CancelEndsAWaitingPingAtOnce) {
    SKIP_UNLESS_RAN(netns::run([] {
        silenceKernelEcho();
        TPinger png;
        png.SetTimeout(20000);
        png.SetAddress("127.0.0.1");
        std::thread stopper([&] {
            std::this_thread::sleep_for(milliseconds(200));
            png.cancel();
        });
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(png.Ping(), 0);
        stopper.join();
        EXPECT_LT(msSince(start), 5000);
        EXPECT_NE(png.GetErrorCode(), 0);
    }));
}

TEST(PingNamespace, CancelEndsAWaitingNameLookup) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        SilentNameServer dns;
        if (!dns.why().empty()) {
            GTEST_SKIP() << dns.why();
        }
        TIcmpEcho echo;
        echo.SetAddress("slow-lookup.invalid");
        std::thread stopper([&] {
            std::this_thread::sleep_for(milliseconds(300));
            echo.cancel();
        });
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        stopper.join();
        EXPECT_LT(msSince(start), 4000);
        EXPECT_FALSE(echo.AddrResolved());
    }));
}

TEST(PingPermissions, WithoutAnIcmpSocketTheEngineStillWorksAndSaysWhy) {
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(IcmpSocket::Kind::Raw);
        if (!dropNetRaw()) {
            GTEST_SKIP() << "cannot drop CAP_NET_RAW";
        }
        TPinger png;
        EXPECT_EQ(png.InitError(), "Unable to get ping handle");
        EXPECT_NE(png.InitErrorDetail().find(std::strerror(EPERM)), std::string::npos)
            << png.InitErrorDetail();
        EXPECT_NE(png.InitErrorDetail().find("net.ipv4.ping_group_range"), std::string::npos);
        EXPECT_EQ(png.Icmp().SocketKind(), IcmpSocket::Kind::None);
        int replies = -1;
        std::vector<std::string> shown;
        png.OnEchoReply = [&](TPinger&, TIcmpEcho&, std::int32_t n) { replies = n; };
        png.OnDisplay = [&](TPinger&, TIcmpEcho&, const std::string& msg) { shown.push_back(msg); };
        png.SetAddress("127.0.0.1");
        EXPECT_EQ(png.Ping(), 0);
        EXPECT_EQ(replies, 0);
        EXPECT_EQ(png.GetErrorCode(), EPERM);
        // Every ping says why it failed and what would allow it.
        const std::string why = png.GetErrorString();
        EXPECT_TRUE(why.starts_with("No permission to send ICMP echo requests")) << why;
        EXPECT_NE(why.find("net.ipv4.ping_group_range"), std::string::npos) << why;
        EXPECT_NE(why.find("cap_net_raw"), std::string::npos) << why;
        EXPECT_EQ(shown, std::vector<std::string>{why});
    }));
}

// The tests below run once with each kind of socket.
class PingPeer : public ::testing::TestWithParam<IcmpSocket::Kind> {};

INSTANTIATE_TEST_SUITE_P(BothSockets, PingPeer,
                         ::testing::Values(IcmpSocket::Kind::Raw, IcmpSocket::Kind::Datagram),
                         [](const auto& p) {
                             return p.param == IcmpSocket::Kind::Raw ? std::string("Raw")
                                                                     : std::string("Datagram");
                         });

TEST_P(PingPeer, UsesTheSocketTheSystemAllows) {
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        TIcmpEcho echo;
        EXPECT_EQ(echo.SocketKind(), GetParam());
        echo.SetAddress("127.0.0.1");
        EXPECT_EQ(echo.Ping(), 1) << echo.GetErrorString();
        EXPECT_EQ(bytesText(echo.ReplyData()), expectedData(56));
    }));
}

TEST_P(PingPeer, StrayRepliesNeverCount) {
    using A = IcmpPeer::Answer;
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        silenceKernelEcho();
        IcmpPeer peer({{A::ReplyFromOther, A::ReplyWrongSequence, A::ReplyWrongId, A::ReplyBadChecksum},
                       {A::ReplyFromOther, A::ReplyWrongSequence, A::Reply}});
        TIcmpEcho echo;
        echo.Timeout = 700;
        echo.SetAddress("127.0.0.1");
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.LastError(), 11010);
        EXPECT_EQ(echo.Ping(), 1) << echo.GetErrorString();
        EXPECT_EQ(echo.Reply().address, kLoopback);
        EXPECT_EQ(bytesText(echo.ReplyData()), expectedData(56));
        EXPECT_EQ(peer.requests().size(), 2U);
    }));
}

TEST_P(PingPeer, IcmpErrorsEndTheWaitWithTheirCode) {
    using A = IcmpPeer::Answer;
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        silenceKernelEcho();
        IcmpPeer peer({{A::TimeExceeded}, {A::HostUnreachable}});
        TIcmpEcho echo;
        echo.Timeout = 5000;
        echo.SetAddress("127.0.0.1");
        Clock::time_point start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(echo.LastError(), 11013);
        EXPECT_EQ(echo.GetErrorString(), "TTL expired in transit");
        in_addr router{};
        ::inet_aton("127.0.0.3", &router);
        EXPECT_EQ(echo.Reply().address, router.s_addr);
        EXPECT_EQ(echo.Reply().status, 11013U);
        start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_LT(msSince(start), 3000);
        EXPECT_EQ(echo.GetErrorString(), "Destination host unreachable");
    }));
}

TEST_P(PingPeer, TtlAndFlagsReachTheWire) {
    using A = IcmpPeer::Answer;
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        silenceKernelEcho();
        IcmpPeer peer({{A::Reply}, {A::Reply}});
        TIcmpEcho echo;
        echo.SetAddress("127.0.0.1");
        echo.TTL = 0x105;  // only the low byte counts
        echo.Flags = TIcmpEcho::kFlagDontFragment;
        EXPECT_EQ(echo.Ping(), 1);
        echo.TTL = 200;
        echo.Flags = 0;
        EXPECT_EQ(echo.Ping(), 1);
        const std::vector<IcmpPeer::Request> seen = peer.requests();
        ASSERT_EQ(seen.size(), 2U);
        EXPECT_EQ(seen[0].ttl, 5);
        EXPECT_TRUE(seen[0].dontFragment);
        EXPECT_EQ(seen[1].ttl, 200);
        EXPECT_FALSE(seen[1].dontFragment);
        EXPECT_EQ(bytesText(seen[0].data), expectedData(56));
        EXPECT_EQ(seen[1].sequence, static_cast<std::uint16_t>(seen[0].sequence + 1));
    }));
}

TEST_P(PingPeer, DontFragmentRefusesARequestTheLinkCannotCarry) {
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        ASSERT_TRUE(netns::setLoopbackMtu(1500));
        TIcmpEcho echo;
        echo.SetAddress("127.0.0.1");
        echo.Size = 2000;
        echo.Flags = TIcmpEcho::kFlagDontFragment;
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Packet too big");
        echo.Flags = 0;
        EXPECT_EQ(echo.Ping(), 1) << echo.GetErrorString();
        EXPECT_EQ(echo.ReplyData().size(), 2000U);
    }));
}

// ::1 answers, written with or without brackets or zone. Behind a link the test answers for,
// ICMPv6 errors from a router end the wait with their codes and silence with the time-out; hop
// limit and size reach the wire, don't-fragment refuses a request larger than the link, and an
// address without a route fails at once.
TEST_P(PingPeer, Ipv6LoopbackAndBehindALink) {
    SKIP_UNLESS_RAN(netns::run([] {
        allowSocketKind(GetParam());
        netns::Ipv6Link link("2001:db8:2::", 64);
        if (!link.why().empty()) {
            GTEST_SKIP() << link.why();
        }
        ASSERT_TRUE(netns::addLoopbackAddress6("2001:db8:1::1"));  // the requests' source
        TIcmpEcho echo;
        EXPECT_EQ(echo.SocketKind6(), GetParam());
        for (const std::string address : {"::1", "[::1]", "::1%lo"}) {
            echo.SetAddress(address);
            ASSERT_EQ(echo.Ping(), 1) << address << ": " << echo.GetErrorString();
            EXPECT_EQ(echo.HostIP(), address == "::1%lo" ? "::1%lo" : "::1");
            EXPECT_EQ(echo.ReplyAddress().text(), "::1");
            EXPECT_EQ(echo.Reply().address, 0U);
            EXPECT_EQ(bytesText(echo.ReplyData()), expectedData(56));
        }
        echo.SetAddress("::1%no-such-link");
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Bad Destination");

        std::vector<std::string> seen;  // hop limit and data size of each request
        std::thread router([&] {
            for (const auto [type, code] : {std::pair{3, 0}, {1, 3}, {2, 0}}) {
                const std::vector<std::uint8_t> request = link.receive(milliseconds(5000));
                if (!request.empty()) {
                    seen.push_back(std::to_string(request[7]) + "/" + std::to_string(request.size() - 48));
                    link.send(icmp6Error(type, code, request));
                }
            }
        });
        echo.Timeout = 600;
        echo.TTL = 0x105;
        echo.Size = 100;
        echo.SetAddress("2001:db8:2::5");
        for (const std::int32_t status : {11013, 11003, 11009}) {
            const Clock::time_point start = Clock::now();
            EXPECT_EQ(echo.Ping(), 0);
            EXPECT_EQ(echo.LastError(), status);
            EXPECT_LT(msSince(start), 500);
            EXPECT_EQ(echo.ReplyAddress().text(), "2001:db8:2::fe");
        }
        router.join();
        EXPECT_EQ(seen, (std::vector<std::string>{"5/100", "5/100", "5/100"}));
        Clock::time_point start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Request timed out");
        EXPECT_GE(msSince(start), 590);
        echo.Size = 2000;
        echo.Flags = TIcmpEcho::kFlagDontFragment;
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Packet too big");
        echo.SetAddress("2001:db8:3::5");
        start = Clock::now();
        EXPECT_EQ(echo.Ping(), 0);
        EXPECT_EQ(echo.GetErrorString(), "Destination network unreachable");
        EXPECT_LT(msSince(start), 250);
    }));
}

TEST(PingerLookup, ADottedAddressCompletesAtOnce) {
    TPinger png;
    std::vector<int> done;
    png.OnDnsLookupDone = [&](TPinger&, std::uint16_t error) { done.push_back(error); };
    png.DnsLookup("10.1.2.3");
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(png.DnsResult(), "10.1.2.3");
    png.CancelDnsLookup();  // nothing pending: no event
    EXPECT_EQ(done.size(), 1U);
}

TEST(PingerLookup, ANameCompletesThroughTheOwnersDispatcher) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        CompletionQueue queue;
        TPinger png;
        png.SetLookupDispatcher(queue.dispatcher());
        std::vector<int> done;
        png.OnDnsLookupDone = [&](TPinger&, std::uint16_t error) { done.push_back(error); };
        png.DnsLookup("localhost");
        EXPECT_TRUE(done.empty());
        ASSERT_TRUE(queue.runOne());
        EXPECT_EQ(done, std::vector<int>{0});
        EXPECT_EQ(png.DnsResult(), "127.0.0.1");

        png.DnsLookup("no-such-host.invalid");
        ASSERT_TRUE(queue.runOne());
        ASSERT_EQ(done.size(), 2U);
        EXPECT_NE(done[1], 0);
        EXPECT_EQ(png.DnsResult(), "");
    }));
}

TEST(PingerLookup, ReplacedCancelledAndOrphanedLookupsStaySilent) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        CompletionQueue queue;
        std::vector<int> done;
        auto png = std::make_unique<TPinger>();
        png->SetLookupDispatcher(queue.dispatcher());
        png->OnDnsLookupDone = [&](TPinger&, std::uint16_t error) { done.push_back(error); };

        // A new lookup replaces the pending one, whose completion is then dropped.
        png->DnsLookup("localhost");
        png->DnsLookup("10.0.0.1");
        EXPECT_EQ(done, std::vector<int>{0});
        ASSERT_TRUE(queue.runOne());
        EXPECT_EQ(done.size(), 1U);
        EXPECT_EQ(png->DnsResult(), "10.0.0.1");

        // A cancel reports 10004 at once; the late completion changes nothing.
        png->DnsLookup("localhost");
        png->CancelDnsLookup();
        EXPECT_EQ(done, (std::vector<int>{0, 10004}));
        ASSERT_TRUE(queue.runOne());
        EXPECT_EQ(done.size(), 2U);
        EXPECT_EQ(png->DnsResult(), "");

        // A pinger destroyed with a lookup pending reports the cancel; the completion that
        // arrives afterwards finds no one.
        png->DnsLookup("localhost");
        png.reset();
        EXPECT_EQ(done, (std::vector<int>{0, 10004, 10004}));
        ASSERT_TRUE(queue.runOne());
        EXPECT_EQ(done.size(), 3U);
    }));
}

TEST(PingerLookup, ACancelNeedNotWaitForAHangingLookupAndFewHangAtOnce) {
    SKIP_UNLESS_RAN(netns::lookupsStayInside());
    SKIP_UNLESS_RAN(netns::run([] {
        SilentNameServer dns;
        if (!dns.why().empty()) {
            GTEST_SKIP() << dns.why();
        }
        TPinger png;
        std::vector<int> done;
        png.OnDnsLookupDone = [&](TPinger&, std::uint16_t error) { done.push_back(error); };
        png.DnsLookup("hanging-lookup.invalid");
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_TRUE(done.empty());
        const Clock::time_point start = Clock::now();
        png.CancelDnsLookup();
        EXPECT_LT(msSince(start), 100);
        EXPECT_EQ(done, std::vector<int>{10004});
        // The cancelled lookup still hangs in its thread; a few more may, then none starts.
        for (std::size_t i = 1; i < AbandonedLookups::kLimit; ++i) {
            png.DnsLookup("hanging-lookup.invalid");
        }
        EXPECT_THROW(png.DnsLookup("hanging-lookup.invalid"), std::runtime_error);
    }));
}
