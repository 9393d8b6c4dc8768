// TCP peers on 127.0.0.1 (a server also on ::1 or another local address) for the tests of the
// socket, the probe and the mail client: a server bound to port 0 that runs a script for every connection it
// accepts (greeting, silent, closing early, send and expect, ...), a port that refuses, and a listener whose
// full queue makes connections time out. Everything stops and joins in its destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One accepted connection, seen from the server. Every wait ends when the server stops.
class PeerConnection {
  public:
    PeerConnection(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    void send(const std::string& bytes);
    // Up to count bytes: fewer when the client closes or the server stops first.
    std::string receive(std::size_t count);
    // Everything up to and including terminator, or what came before the client closed.
    std::string receiveUntil(const std::string& terminator);
    // Everything until the client closes.
    std::string receiveAll();
    // Keeps the connection open until the client closes it or the server stops.
    void holdOpen();
    // Orderly close (FIN), or a reset (RST).
    void close();
    void reset();
    bool clientClosed() const { return clientClosed_; }

  private:
    // Waits for data; false when the server stops.
    bool waitReadable();

    int fd_;
    int stopFd_;
    bool clientClosed_ = false;
};

class LoopbackServer {
  public:
    using Script = std::function<void(PeerConnection&)>;

    // address: the local IPv4 or IPv6 address to listen on.
    explicit LoopbackServer(Script script, std::string address = "127.0.0.1");
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Closes the listener: the port refuses connections until listenAgain.
    void stopListening();
    void listenAgain();
    // Connections accepted so far.
    int accepted() const { return accepted_; }

    // Sends text and keeps the connection until the client closes it.
    static Script greeting(std::string text);
    // Accepts and never sends.
    static Script silent();
    // Sends text (possibly nothing) and closes.
    static Script closing(std::string text = {});
    // Reads until the bytes received end with request, then replies and keeps the connection;
    // anything else (a client that closes first) gets no reply.
    static Script expect(std::string request, std::string reply);
    // Hands every byte the client sends, until it closes, to sink (on the server's thread).
    static Script record(std::function<void(const std::string&)> sink);

  private:
    void openListener();
    void acceptLoop(int listenFd, int stopAcceptFd);
    void stopAcceptor();

    Script script_;
    std::string address_;
    std::uint16_t port_ = 0;
    int stopFd_ = -1;  // ends every connection script
    int listenFd_ = -1;
    int stopAcceptFd_ = -1;  // ends the accept loop
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::atomic<int> accepted_{0};
};

// A port on 127.0.0.1 where nothing listens: a connection attempt is refused. The port
// stays bound (without listening), so nothing else takes it while the test runs.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A listener that never accepts, with a backlog of 0 and its one queue place taken: the
// system drops every further connection request, so a connect waits until it times out.
// The connection that holds the place is established and takes sends without an answer.
class FullBacklogListener {
  public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    std::uint16_t port() const { return port_; }

  private:
    int listenFd_ = -1;
    int fillerFd_ = -1;
    std::uint16_t port_ = 0;
};
