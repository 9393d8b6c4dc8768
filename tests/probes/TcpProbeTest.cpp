#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <future>
#include <string>
#include <thread>

#include "TcpTestHelpers.h"
#include "core/LiveConfig.h"
#include "probes/TcpProbe.h"
#include "support/LoopbackServer.h"

using namespace tcptest;

namespace {

class TcpProbeTest : public ::testing::Test {
  protected:
    void setTimeout(std::int32_t ms) {
        cfg.update([ms](ServerCfg& c) { c.connectTimeout = ms; });
    }
    ServerItem host(std::uint16_t port, std::string recv, std::string send = {}) {
        ServerItem item;
        item.name = "svc";
        item.address = "127.0.0.1";
        item.tcpPort = port;
        item.recvText = std::move(recv);
        item.sendText = std::move(send);
        return item;
    }

    LiveConfig cfg;
    std::atomic<std::int32_t> connectState{0};
    FailingCloseSocket sock;
    TcpProbe probe{sock, cfg, connectState};
};

TEST_F(TcpProbeTest, ConnectOnly) {
    LoopbackServer server(LoopbackServer::silent());
    RefusingPort refused;
    EXPECT_TRUE(probe.CheckTcpConnect("127.0.0.1", server.port()));
    EXPECT_EQ(connectState, 1);
    EXPECT_FALSE(sock.Connected());
    EXPECT_EQ(probe.takeFailure(), "");
    EXPECT_FALSE(probe.CheckTcpConnect("127.0.0.1", refused.port()));
    EXPECT_EQ(connectState, 2);
    EXPECT_EQ(probe.takeFailure(), "Connection refused");
    EXPECT_TRUE(probe.CheckTcpConnect("localhost", server.port()));
    EXPECT_FALSE(probe.CheckTcpConnect("0.0.0.0", server.port()));
    EXPECT_EQ(connectState, 2);
}

// An IPv6 literal, with or without brackets, is checked over IPv6; the same socket then
// reaches an IPv4 host again.
TEST_F(TcpProbeTest, Ipv6LoopbackWithAndWithoutBrackets) {
    LoopbackServer greeting(LoopbackServer::greeting("220 ready\r\n"), "::1");
    LoopbackServer echo(LoopbackServer::expect("PING\r\n", "PONG\r\n"), "::1");
    LoopbackServer v4(LoopbackServer::silent());
    setTimeout(2000);
    EXPECT_TRUE(probe.CheckTcpConnect("::1", greeting.port()));
    ServerItem item = host(greeting.port(), "220 ready");
    item.address = "[::1]";
    EXPECT_TRUE(probe.CheckTcpReceive(item));
    item = host(echo.port(), "PONG", "PING\r\n");
    item.address = "::1";
    EXPECT_TRUE(probe.CheckTcpSendReceive(item));
    EXPECT_EQ(sock.RemoteAddress(), 0u);
    EXPECT_EQ(sock.RemoteAddress6(),
              (std::array<std::uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_TRUE(probe.CheckTcpConnect("127.0.0.1", v4.port()));
    EXPECT_EQ(sock.RemoteAddress6(), (std::array<std::uint8_t, 16>{}));
}

TEST_F(TcpProbeTest, ConnectToASilentPeerFailsAfterTheConnectTimeout) {
    FullBacklogListener silent;
    setTimeout(300);
    const auto start = Clock::now();
    EXPECT_FALSE(probe.CheckTcpConnect("127.0.0.1", silent.port()));
    EXPECT_EQ(probe.takeFailure(), "Timed out");
    EXPECT_GE(msSince(start), 300);
    EXPECT_LT(msSince(start), 5000);
}

TEST_F(TcpProbeTest, ReplyMustBeginWithTheExpectedTextExactly) {
    LoopbackServer ssh(LoopbackServer::greeting("SSH-2.0-x\r\n"));
    LoopbackServer blank(LoopbackServer::greeting(" 220 ready\r\n"));
    setTimeout(2000);
    EXPECT_TRUE(probe.CheckTcpReceive(host(ssh.port(), "SSH-")));
    EXPECT_TRUE(probe.CheckTcpReceive(host(ssh.port(), "SSH-2.0-x\r\n")));
    // Found later in the reply, different in case, or past the blank: no match. Each
    // mismatch is decided on the first bytes without waiting for the time limit.
    const auto start = Clock::now();
    EXPECT_FALSE(probe.CheckTcpReceive(host(ssh.port(), "2.0")));
    EXPECT_EQ(probe.takeFailure(), "Text not found in the response");
    EXPECT_FALSE(probe.CheckTcpReceive(host(ssh.port(), "ssh-")));
    EXPECT_FALSE(probe.CheckTcpReceive(host(blank.port(), "220")));
    EXPECT_LT(msSince(start), 1500);
    EXPECT_FALSE(sock.Connected());
}

TEST_F(TcpProbeTest, TooShortAReplyFailsAtTheTimeLimitAndTheNextCheckIsUntouched) {
    LoopbackServer shortReply(LoopbackServer::greeting("1234"));
    LoopbackServer full(LoopbackServer::greeting("1234567890"));
    setTimeout(250);
    const auto start = Clock::now();
    EXPECT_FALSE(probe.CheckTcpReceive(host(shortReply.port(), "1234567890")));
    EXPECT_EQ(probe.takeFailure(), "Timed out");
    // 250 ms rounded up to the watchdog's 100 ms steps.
    EXPECT_GE(msSince(start), 300);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_FALSE(sock.Connected());
    // The watchdog's cancel belongs to the step it ended.
    EXPECT_TRUE(probe.CheckTcpReceive(host(full.port(), "1234567890")));
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(full.port(), "12", "x")));
}

TEST_F(TcpProbeTest, PeerClosingBeforeItSendsFails) {
    LoopbackServer closing(LoopbackServer::closing());
    LoopbackServer ok(LoopbackServer::greeting("OK"));
    EXPECT_FALSE(probe.CheckTcpReceive(host(closing.port(), "OK")));
    EXPECT_TRUE(probe.CheckTcpReceive(host(ok.port(), "OK")));
}

TEST_F(TcpProbeTest, SendAndReceive) {
    LoopbackServer help(LoopbackServer::expect("HELP", "214 ok\r\n"));
    LoopbackServer lineHelp(LoopbackServer::expect("HELP\r\n", "214 ok\r\n"));
    setTimeout(300);
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(help.port(), "214", "HELP")));
    // No line end is added: a server that waits for one never answers.
    EXPECT_FALSE(probe.CheckTcpSendReceive(host(lineHelp.port(), "214", "HELP")));
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(lineHelp.port(), "214", "HELP\r\n")));
    // The text is sent up to its first NUL only.
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(help.port(), "214", std::string("HELP\0junk", 9))));
}

TEST_F(TcpProbeTest, EmptyExpectedTextSucceedsOnceConnected) {
    LoopbackServer silent(LoopbackServer::silent());
    RefusingPort refused;
    EXPECT_TRUE(probe.CheckTcpReceive(host(silent.port(), "")));
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(silent.port(), "", "ping")));
    EXPECT_FALSE(probe.CheckTcpReceive(host(refused.port(), "")));
}

TEST_F(TcpProbeTest, ATimeoutChangedWhileAReadWaitsCountsFromTheNextStep) {
    LoopbackServer silent(LoopbackServer::silent());
    setTimeout(60000);
    const auto start = Clock::now();
    auto check =
        std::async(std::launch::async, [&] { return probe.CheckTcpReceive(host(silent.port(), "x")); });
    ASSERT_TRUE(waitUntil([&] { return silent.accepted() == 1; }));
    std::this_thread::sleep_for(milliseconds(300));
    setTimeout(100);
    ASSERT_EQ(check.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(check.get());
    EXPECT_LT(msSince(start), 10000);
}

TEST_F(TcpProbeTest, ConnectTimeoutZero) {
    LoopbackServer greeting(LoopbackServer::greeting("SSH-2.0-x\r\n"));
    LoopbackServer help(LoopbackServer::expect("HELP", "214 ok\r\n"));
    setTimeout(0);
    // The lookup and the connection have no limit; every send and read is cut at once.
    EXPECT_TRUE(probe.CheckTcpConnect("localhost", greeting.port()));
    EXPECT_TRUE(probe.CheckTcpReceive(host(greeting.port(), "")));
    EXPECT_FALSE(probe.CheckTcpReceive(host(greeting.port(), "SSH-")));
    EXPECT_FALSE(probe.CheckTcpSendReceive(host(help.port(), "214", "HELP")));
    EXPECT_FALSE(probe.CheckTcpSendReceive(host(help.port(), "", "HELP")));
    EXPECT_FALSE(probe.CheckTcpSendReceive(host(help.port(), "", "")));
    // And nothing of it remains for the next check.
    setTimeout(2000);
    EXPECT_TRUE(probe.CheckTcpSendReceive(host(help.port(), "214", "HELP")));
}

TEST_F(TcpProbeTest, AFailingCloseIsAFailedCheckNotAnException) {
    LoopbackServer greeting(LoopbackServer::greeting("OK"));
    sock.failCloses = 1;
    EXPECT_FALSE(probe.CheckTcpConnect("127.0.0.1", greeting.port()));
    EXPECT_TRUE(probe.CheckTcpConnect("127.0.0.1", greeting.port()));
    sock.failCloses = 1;
    EXPECT_FALSE(probe.CheckTcpReceive(host(greeting.port(), "OK")));
    EXPECT_TRUE(probe.CheckTcpReceive(host(greeting.port(), "OK")));
}

TEST_F(TcpProbeTest, CancelEndsAWaitingCheckAtOnce) {
    LoopbackServer silent(LoopbackServer::silent());
    setTimeout(60000);
    auto check =
        std::async(std::launch::async, [&] { return probe.CheckTcpReceive(host(silent.port(), "x")); });
    ASSERT_TRUE(waitUntil([&] { return silent.accepted() == 1; }));
    std::this_thread::sleep_for(milliseconds(50));
    probe.cancel();
    ASSERT_EQ(check.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(check.get());
    // A cancel left over between checks does not fail the next one.
    probe.cancel();
    LoopbackServer ok(LoopbackServer::greeting("OK"));
    EXPECT_TRUE(probe.CheckTcpReceive(host(ok.port(), "OK")));
}

}  // namespace
