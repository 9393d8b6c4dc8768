#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TcpTestHelpers.h"
#include "probes/TcpSocket.h"
#include "probes/WinsockErrors.h"
#include "support/LoopbackServer.h"
#include "support/NetNamespace.h"

using namespace tcptest;

namespace {

// A socket whose closes fail while failCloses is above 0, as a close reporting EBADF would.
class FailingCloseSocket : public TTcpSocket {
  public:
    int failCloses = 0;

  protected:
    int closeHandle(int fd) override {
        if (failCloses > 0) {
            --failCloses;
            ::close(fd);  // the descriptor is gone either way
            errno = EBADF;
            return -1;
        }
        return TTcpSocket::closeHandle(fd);
    }
};

TEST(NthField, CutsAtEveryDelimiter) {
    EXPECT_EQ(NthField("Ann <box1>", '<', 2), "box1>");
    EXPECT_EQ(NthField("box1>", '>', 1), "box1");
    EXPECT_EQ(NthField("a::b", ':', 3), "b");
    EXPECT_EQ(NthField("a::b", ':', 2), "");
    EXPECT_EQ(NthField("a::b", ':', 4), "");
    EXPECT_EQ(NthField("", ':', 1), "");
    EXPECT_EQ(NthField("abc", ':', 1), "abc");
    EXPECT_EQ(NthField("abc", ':', 0), "");
}

TEST(SocketErrorTexts, SystemErrorsReadAsTheirWindowsSocketsText) {
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(ECONNRESET)), "10054:Connection reset by peer");
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(ENOTCONN)), "10057:Socket is not connected");
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(ECONNREFUSED)), "10061:Connection refused");
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(EADDRNOTAVAIL)), "10049:Can't assign requested address");
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(EPIPE)), "10058:Can't send after socket shutdown");
    EXPECT_EQ(winsockCodeOf(EAGAIN), kWsaWouldBlock);
    EXPECT_EQ(winsockCodeOf(EINPROGRESS), kWsaWouldBlock);
    EXPECT_EQ(socketErrorMessage(10065), "10065:No route to Host");
    EXPECT_EQ(socketErrorMessage(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(socketErrorMessage(10072), "Unknown Error No. 10072");
    EXPECT_EQ(winsockErrorText(10093), "Successful WSAStartup not yet performed");
    // Errors without a Windows Sockets number keep the system's own text under a number of
    // their own, and never pass for another entry or for would-block.
    EXPECT_EQ(socketErrorMessage(winsockCodeOf(EPROTO)), "20071:Protocol error");
    EXPECT_NE(winsockCodeOf(EDEADLK), kWsaWouldBlock);
}

// ---------------------------------------------------------------- Connect

TEST(TcpSocketConnect, RefusedPortFailsAfterTheFailedEvent) {
    RefusingPort refusing;
    TTcpSocket sock;
    std::vector<std::string> events;
    sock.OnConnect = [&](TTcpSocket&) { events.push_back("connect"); };
    sock.OnConnectionFailed = [&](TTcpSocket& s) { events.push_back(s.Connected() ? "failed+" : "failed"); };
    sock.TimeOut = 5000;
    EXPECT_EQ(socketErrorOf([&] { connectTo(sock, refusing.port()); }), "Connection Failed");
    EXPECT_EQ(events, std::vector<std::string>{"failed"});
    EXPECT_FALSE(sock.Connected());
    EXPECT_FALSE(sock.Succeed());
    EXPECT_FALSE(sock.TimedOut());
}

TEST(TcpSocketConnect, SilentPeerTimesOutAfterTimeOut) {
    FullBacklogListener silent;
    TTcpSocket sock;
    int failed = 0;
    sock.OnConnectionFailed = [&](TTcpSocket&) { ++failed; };
    sock.TimeOut = 300;
    const auto start = Clock::now();
    EXPECT_EQ(socketErrorOf([&] { connectTo(sock, silent.port()); }), "Connection Timed out");
    EXPECT_GE(msSince(start), 300);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(sock.TimedOut());
    // The time limit cancels the operation, and the cancel stays until the next Connect.
    EXPECT_TRUE(sock.Canceled());
    sock.Disconnect();
}

TEST(TcpSocketConnect, CancelFromAnotherThreadEndsAnUnlimitedConnect) {
    FullBacklogListener silent;
    TTcpSocket sock;
    sock.TimeOut = 0;
    const auto start = Clock::now();
    {
        DelayedCancel cancel(sock, milliseconds(150));
        EXPECT_EQ(socketErrorOf([&] { connectTo(sock, silent.port()); }), "Connection Canceled");
    }
    EXPECT_LT(msSince(start), 5000);
    EXPECT_FALSE(sock.TimedOut());
    sock.Disconnect();
}

TEST(TcpSocketConnect, AnUnreachableNetworkIsAFailedConnection) {
    // A namespace without routes: connect() itself reports the network unreachable.
    const std::string why = netns::run([] {
        TTcpSocket sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](TTcpSocket&) { ++failed; };
        sock.Host = "192.0.2.1";
        sock.Port = 80;
        sock.TimeOut = 5000;
        EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Connection Failed");
        EXPECT_EQ(failed, 1);
    });
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
}

TEST(TcpSocketConnect, Ipv6SilentAddressTimesOutAndOneWithoutRouteFailsAtOnce) {
    const std::string why = netns::run([] {
        netns::Ipv6Link link("2001:db8:2::", 64);
        if (!link.why().empty()) {
            GTEST_SKIP() << link.why();
        }
        TTcpSocket sock;
        int failed = 0;
        sock.OnConnectionFailed = [&](TTcpSocket&) { ++failed; };
        sock.Host = "2001:db8:2::5";
        sock.Port = 80;
        sock.TimeOut = 300;
        auto start = Clock::now();
        EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Connection Timed out");
        EXPECT_GE(msSince(start), 300);
        sock.Disconnect();
        sock.Host = "[2001:db8:3::5]";
        start = Clock::now();
        EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Connection Failed");
        EXPECT_LT(msSince(start), 250);
        EXPECT_EQ(failed, 2);
    });
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
}

TEST(TcpSocketConnect, NullAddressIsRefusedWithoutALookup) {
    std::vector<std::string> status;  // outlives the socket, which reports its end
    TTcpSocket sock;
    sock.ReportLevel = 8;
    sock.OnStatus = [&](TTcpSocket&, const std::string& s) { status.push_back(s); };
    int resolved = 0;
    int failed = 0;
    sock.OnHostResolved = [&](TTcpSocket&) { ++resolved; };
    sock.OnConnectionFailed = [&](TTcpSocket&) { ++failed; };
    sock.Host = "0.0.0.0";
    sock.Port = 80;
    EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Null Remote Address");
    // A lookup would have switched the time limit on.
    EXPECT_EQ(status, (std::vector<std::string>{"Connecting", "Resolve Host"}));
    EXPECT_EQ(sock.Status(), "Resolve Host");
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(failed, 0);
}

TEST(TcpSocketConnect, InvalidHostHandlerIsAskedOnceAndMayMendTheHost) {
    LoopbackServer server(LoopbackServer::silent());
    TTcpSocket sock;
    int asked = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        sock.Host = "127.0.0.1";
        handled = true;
    };
    sock.Host = "0.0.0.0";
    sock.Port = server.port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(asked, 1);
    sock.Disconnect();

    // A handler that mends nothing: asked once, then "Null Remote Address".
    asked = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    sock.Host = "0.0.0.0";
    EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);
}

TEST(TcpSocketConnect, AlreadyConnectedThenAgainAfterDisconnect) {
    LoopbackServer server(LoopbackServer::silent());
    TTcpSocket sock;
    int connects = 0;
    int disconnects = 0;
    sock.OnConnect = [&](TTcpSocket& s) {
        // The event fires on the calling thread, with the socket already connected.
        EXPECT_TRUE(s.Connected());
        ++connects;
    };
    sock.OnDisconnect = [&](TTcpSocket&) { ++disconnects; };
    connectTo(sock, server.port());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(socketErrorOf([&] { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected());
    sock.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(sock.Connected());
    connectTo(sock, server.port());
    EXPECT_EQ(connects, 2);
    EXPECT_TRUE(waitUntil([&] { return server.accepted() == 2; }));
    sock.Disconnect();
}

TEST(TcpSocketConnect, HostNameFromTheHostsFile) {
    LoopbackServer server(LoopbackServer::silent());
    TTcpSocket sock;
    int resolved = 0;
    sock.OnHostResolved = [&](TTcpSocket&) { ++resolved; };
    sock.Host = "localhost";
    sock.Port = server.port();
    sock.TimeOut = 5000;
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(sock.RemoteAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_TRUE(sock.LookupDone());
    sock.Disconnect();
}

TEST(TcpSocketConnect, StatusTextsOnlyUpToTheReportLevel) {
    LoopbackServer server(LoopbackServer::greeting("hello"));
    std::vector<std::string> status;
    TTcpSocket sock;
    sock.OnStatus = [&](TTcpSocket&, const std::string& s) { status.push_back(s); };
    connectTo(sock, server.port());
    sock.Read(4);
    sock.Disconnect();
    EXPECT_TRUE(status.empty());
    EXPECT_EQ(sock.Status(), "");

    sock.ReportLevel = 4;
    connectTo(sock, server.port());
    sock.SendBuffer("x", 1);
    sock.Disconnect();
    EXPECT_EQ(status, (std::vector<std::string>{"Sending Buffer", "Request Close Socket"}));

    status.clear();
    sock.ReportLevel = 8;
    connectTo(sock, server.port());
    sock.Read(4);
    EXPECT_EQ(status,
              (std::vector<std::string>{"Connecting", "Resolve Host", "Timer On", "Timer Off", "Read( 4 )"}));
    sock.Disconnect();
}

// ---------------------------------------------------------------- Read and ReadLn

class TcpSocketRead : public ::testing::Test {
  protected:
    void connect(LoopbackServer& server) { connectTo(sock, server.port()); }

    TTcpSocket sock;
};

TEST_F(TcpSocketRead, ReadZeroTakesWhatIsPendingNow) {
    Captured go;
    LoopbackServer server([&](PeerConnection& c) {
        go.get();
        c.send("12345");
        c.holdOpen();
    });
    connect(server);
    EXPECT_EQ(sock.Read(0), "");
    go.set("now");
    ASSERT_TRUE(waitUntil([&] { return sock.DataAvailable(); }));
    // All five bytes come in one segment from the server's single send.
    EXPECT_EQ(sock.Read(0), "12345");
    EXPECT_EQ(sock.Read(0), "");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadWaitsForTheWholeCountAcrossPieces) {
    LoopbackServer server([](PeerConnection& c) {
        c.send("ab");
        std::this_thread::sleep_for(milliseconds(50));
        c.send("cd");
        std::this_thread::sleep_for(milliseconds(50));
        c.send("ef");
        c.holdOpen();
    });
    connect(server);
    EXPECT_EQ(sock.Read(5), "abcde");
    EXPECT_EQ(sock.Read(1), "f");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadOfMoreThanIsPendingWaitsUntilCancel) {
    LoopbackServer server(LoopbackServer::greeting("ab"));
    connect(server);
    ASSERT_TRUE(waitUntil([&] { return sock.DataAvailable(); }));
    {
        DelayedCancel cancel(sock, milliseconds(200));
        const auto start = Clock::now();
        EXPECT_EQ(socketErrorOf([&] { sock.Read(3); }), "Socket send aborted");
        EXPECT_GE(msSince(start), 150);
    }
    EXPECT_FALSE(sock.Canceled());
    // The two bytes are still there.
    EXPECT_EQ(sock.Read(2), "ab");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadStillWaitsAfterThePeerClosedWithTooFewBytes) {
    LoopbackServer server(LoopbackServer::closing("ab"));
    connect(server);
    ASSERT_TRUE(waitUntil([&] { return sock.DataAvailable(); }));
    std::this_thread::sleep_for(milliseconds(50));  // the close follows the bytes
    {
        DelayedCancel cancel(sock, milliseconds(200));
        EXPECT_EQ(socketErrorOf([&] { sock.Read(3); }), "Socket send aborted");
    }
    EXPECT_TRUE(sock.Connected());
    sock.Disconnect();
}

TEST_F(TcpSocketRead, PeerClosingWithoutDataGivesTheEmptyTextAndDropsTheConnection) {
    LoopbackServer server(LoopbackServer::closing());
    connect(server);
    EXPECT_EQ(sock.Read(4), "");
    EXPECT_FALSE(sock.Connected());
    // Reading from the fresh socket that replaced the connection.
    EXPECT_EQ(socketErrorOf([&] { sock.Read(4); }), "10057:Socket is not connected");
    EXPECT_EQ(sock.ReadLn(), "");
}

TEST_F(TcpSocketRead, ResetByPeerIsASocketError) {
    // Reset only once the client is surely connected, when its byte has arrived.
    LoopbackServer server([](PeerConnection& c) {
        c.receive(1);
        c.reset();
    });
    connect(server);
    sock.SendBuffer("x", 1);
    EXPECT_EQ(socketErrorOf([&] { sock.Read(4); }), "10054:Connection reset by peer");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadLnTakesOneLineAndLeavesTheNext) {
    LoopbackServer server(LoopbackServer::greeting("220 ready\r\n250 ok\r\n"));
    connect(server);
    sock.TimeOut = 5000;
    ASSERT_TRUE(waitUntil([&] { return sock.DataAvailable(); }));
    EXPECT_EQ(sock.ReadLn(), "220 ready\r\n");
    EXPECT_EQ(sock.Read(0), "250 ok\r\n");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadLnJoinsALineThatArrivesInPieces) {
    LoopbackServer server([](PeerConnection& c) {
        c.send("22");
        std::this_thread::sleep_for(milliseconds(50));
        c.send("0 x");
        std::this_thread::sleep_for(milliseconds(50));
        c.send("\nnext");
        c.holdOpen();
    });
    connect(server);
    sock.TimeOut = 5000;
    EXPECT_EQ(sock.ReadLn(), "220 x\n");
    EXPECT_EQ(sock.Read(4), "next");
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadLnOfALineCutByTheCloseIsEmpty) {
    LoopbackServer server(LoopbackServer::closing("abc"));
    connect(server);
    EXPECT_EQ(sock.ReadLn(), "");
    EXPECT_FALSE(sock.Connected());
}

TEST_F(TcpSocketRead, ReadLnEndsAtTheTimeLimit) {
    LoopbackServer server(LoopbackServer::greeting("no line end"));
    connect(server);
    sock.TimeOut = 200;
    const auto start = Clock::now();
    EXPECT_EQ(socketErrorOf([&] { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_GE(msSince(start), 200);
    EXPECT_TRUE(sock.TimedOut());
    EXPECT_FALSE(sock.Canceled());
    sock.Disconnect();
}

TEST_F(TcpSocketRead, ReadLnLongerThanTheBufferIsAnError) {
    LoopbackServer server(LoopbackServer::greeting(std::string(70000, 'x')));
    connect(server);
    sock.TimeOut = 5000;
    EXPECT_EQ(socketErrorOf([&] { sock.ReadLn(); }), "10040:Message too long");
    sock.Disconnect();
}

// ---------------------------------------------------------------- sending and Transaction

// Takes count bytes, hands them to the capture and answers "ok", so the client knows they
// arrived before it closes (a close may reset the connection and drop unread data).
LoopbackServer::Script receiveAndAck(std::size_t count, Captured& captured) {
    return [count, &captured](PeerConnection& c) {
        captured.set(c.receive(count));
        c.send("ok");
        c.holdOpen();
    };
}

TEST(TcpSocketSend, SendBufferStopsAtTheFirstNulUnlessGivenALength) {
    const std::string expected("abcabc\0defQUIT\r\ncut", 19);
    Captured received;
    LoopbackServer server(receiveAndAck(expected.size(), received));
    TTcpSocket sock;
    connectTo(sock, server.port());
    const char data[] = "abc\0def";
    sock.SendBuffer(data, 0);
    sock.SendBuffer("", 0);
    sock.SendBuffer(data, 7);
    sock.Writeln("QUIT");
    sock.Write(std::string("cut\0here", 8));
    EXPECT_EQ(sock.Read(2), "ok");
    sock.Disconnect();
    EXPECT_EQ(received.get(), expected);
}

TEST(TcpSocketSend, TooLongAWriteIsARangeError) {
    LoopbackServer server(LoopbackServer::silent());
    TTcpSocket sock;
    connectTo(sock, server.port());
    EXPECT_THROW(sock.Write(std::string(65536, 'x')), std::out_of_range);
    sock.Disconnect();
}

TEST(TcpSocketSend, CancelBeforeASendAbortsItOnce) {
    Captured received;
    LoopbackServer server(receiveAndAck(4, received));
    TTcpSocket sock;
    connectTo(sock, server.port());
    sock.Cancel();
    EXPECT_THROW(sock.SendBuffer("lost", 0), ESocketAbort);
    EXPECT_FALSE(sock.Canceled());
    sock.SendBuffer("kept", 0);
    EXPECT_EQ(sock.Read(2), "ok");
    sock.Disconnect();
    EXPECT_EQ(received.get(), "kept");
}

TEST(TcpSocketSend, SendStreamSendsTheWholeStreamFromItsStart) {
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 26);
    }
    Captured received;
    LoopbackServer server(receiveAndAck(big.size(), received));
    TTcpSocket sock;
    int packets = 0;
    sock.OnPacketSent = [&](TTcpSocket&) { ++packets; };
    connectTo(sock, server.port());
    std::istringstream stream(big);
    stream.seekg(1000);
    sock.SendStream(stream);
    EXPECT_EQ(sock.Read(2), "ok");
    sock.Disconnect();
    const std::string got = received.get();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    EXPECT_GE(packets, 4);
}

TEST(TcpSocketTransaction, ReplyNumberComesFromTheLeadingDigits) {
    Captured request;
    LoopbackServer server([&](PeerConnection& c) {
        request.set(c.receiveUntil("\r\n"));
        c.send("250 OK\r\n");
        c.receiveUntil("\r\n");
        c.send("OK\r\n");
        c.receiveUntil("\r\n");
        c.close();
    });
    std::vector<std::string> status;
    TTcpSocket sock;
    sock.TimeOut = 5000;
    sock.ReportLevel = 1;
    sock.OnStatus = [&](TTcpSocket&, const std::string& s) { status.push_back(s); };
    connectTo(sock, server.port());
    EXPECT_EQ(sock.Transaction("HELO x"), "250 OK\r\n");
    EXPECT_EQ(request.get(), "HELO x\r\n");
    EXPECT_EQ(sock.ReplyNumber(), 250);
    EXPECT_EQ(sock.Transaction("NOOP"), "OK\r\n");
    EXPECT_EQ(sock.ReplyNumber(), 0);
    EXPECT_EQ(sock.LastReply(), "OK\r\n");
    EXPECT_EQ(sock.Transaction("QUIT"), "");
    EXPECT_EQ(sock.ReplyNumber(), 0);
    // Replies are reported at level 1; the empty one is not.
    EXPECT_EQ(status, (std::vector<std::string>{"250 OK\r\n", "OK\r\n"}));
    sock.Disconnect();
}

// ---------------------------------------------------------------- connection state and close

TEST(TcpSocketState, CertifyConnectAsksTheHandlerOnce) {
    LoopbackServer server(LoopbackServer::silent());
    TTcpSocket sock;
    try {
        sock.CertifyConnect();
        FAIL() << "no exception";
    } catch (const ESocketError&) {
        FAIL() << "the base exception was expected";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
    int asked = 0;
    sock.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        connectTo(sock, server.port());
        handled = true;
    };
    sock.CertifyConnect();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(sock.Connected());
    sock.Disconnect();
}

TEST(TcpSocketState, APeerThatClosedIsNoLongerConnected) {
    LoopbackServer server(LoopbackServer::closing());
    TTcpSocket sock;
    connectTo(sock, server.port());
    ASSERT_TRUE(waitUntil([&] { return server.accepted() == 1; }));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_THROW(sock.CertifyConnect(), std::runtime_error);
    EXPECT_FALSE(sock.Connected());
    // And Connect does not take it as still connected.
    connectTo(sock, server.port());
    sock.Disconnect();
}

TEST(TcpSocketState, AFailedCloseStillLeavesAFreshSocket) {
    LoopbackServer server(LoopbackServer::silent());
    FailingCloseSocket sock;
    connectTo(sock, server.port());
    sock.failCloses = 1;
    EXPECT_EQ(socketErrorOf([&] { sock.Disconnect(); }), "10009:Bad file number");
    EXPECT_FALSE(sock.Connected());
    connectTo(sock, server.port());
    EXPECT_TRUE(sock.Connected());
    sock.Disconnect();
}

}  // namespace
