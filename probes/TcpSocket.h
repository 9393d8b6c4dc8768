// TTcpSocket: the one TCP client of the program, used by the TCP probe and, through the
// mail client that derives from it, by the e-mail action. It offers blocking calls with a
// time limit (TimeOut), a cancel that works from any thread, optional status texts and
// exceptions with the texts users see.
//
// Underneath are non-blocking sockets and poll(): every wait ends when its descriptor is
// ready, when the time limit passes, or at once when Cancel makes the wake-up descriptor
// readable, so no wait spins. The events (OnConnect, OnConnectionFailed, ...) fire on the
// thread that called the operation, before it returns.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "probes/HostLookup.h"
#include "probes/NetAddress.h"
#include "platform/UniqueFd.h"
#include "platform/WakeupEvent.h"

// Every failure of a socket operation, with the text a user may see.
class ESocketError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A send or read ended by Cancel or by the time limit.
class ESocketAbort : public ESocketError {
  public:
    using ESocketError::ESocketError;
};

// The n-th field (counted from 1) of text cut at every delimiter; consecutive delimiters
// give empty fields, and a field that does not exist is the empty text.
std::string NthField(const std::string& text, char delimiter, int n);

class TTcpSocket {
  public:
    using TNotifyEvent = std::function<void(TTcpSocket& sender)>;
    using TStatusEvent = std::function<void(TTcpSocket& sender, const std::string& status)>;
    using THandledEvent = std::function<void(bool& handled)>;
    using THostResolvedEvent = std::function<void(TTcpSocket& sender)>;

    // The size of the data buffer; lines, reads and writes are limited by it.
    static constexpr std::size_t kBufferSize = 65536;

    // Throws ESocketError "Initializaton of windows sockets failed" when no socket can be had.
    TTcpSocket();
    virtual ~TTcpSocket();
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    // Set by the owner before a call.
    std::string Host;              // IPv4 or IPv6 address (see parseIpv6Literal) or host name
    std::int32_t Port = 0;         // sent as 16 bits
    std::int32_t TimeOut = 0;      // ms for every timed wait; 0 = no limit
    std::int32_t ReportLevel = 0;  // status texts of a level up to this are reported

    TNotifyEvent OnConnect;           // the connection is established
    TNotifyEvent OnConnectionFailed;  // Connect timed out, was cancelled or failed; before it throws
    TNotifyEvent OnDisconnect;        // after a close
    TStatusEvent OnStatus;
    THandledEvent OnInvalidHost;         // asked once per Connect when Host gives no address
    THostResolvedEvent OnHostResolved;   // a host name (not an address) was looked up
    THandledEvent OnConnectionRequired;  // asked once by CertifyConnect when not connected
    TNotifyEvent OnPacketSent;           // after each successful send of SendStream

    // Looks the host up (each step within TimeOut) and connects. Throws ESocketError:
    // "Already connected", "Host Lookup Timed Out", "Host Lookup Canceled", "Null Remote
    // Address", "Connection Timed out", "Connection Canceled", "Connection Failed", or a
    // system error text.
    virtual void Connect();
    // Closes the connection; the object then holds a fresh, unconnected socket.
    virtual void Disconnect();
    // Sends command and a line end, reads one reply line and takes its leading number into
    // ReplyNumber. Returns the line with its line end.
    virtual std::string Transaction(const std::string& command);
    // Cancel, reported as "Abort"; also what the time limit does when it passes.
    virtual void Abort();

    // Throws std::runtime_error "Not Connected" unless connected, after asking
    // OnConnectionRequired (once) to connect.
    void CertifyConnect();
    // Ends the waiting operation (or the next one that checks) with an exception. Safe from
    // any thread.
    void Cancel();

    // Sends length bytes of data (length 0: up to the first NUL), within TimeOut. Throws
    // ESocketAbort "Socket send aborted" when cancelled or timed out.
    void SendBuffer(const char* data, std::uint16_t length);
    // Sends text up to its first NUL; more than 65535 bytes is a range error.
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    // Waits (without limit) until count bytes are pending and takes them. Read(0) takes
    // whatever is pending now. An orderly close by the peer gives the empty text; Cancel
    // ends the wait with ESocketAbort "Socket send aborted".
    std::string Read(std::uint16_t count);
    // One line, up to and including its line feed, within one TimeOut; the data after it
    // stays pending. A close before the line end gives the empty text; Cancel or the time
    // limit give ESocketAbort "Socket readln aborted".
    std::string ReadLn();
    // Sends the whole stream from its start; no time limit.
    void SendStream(std::istream& stream);
    // Discards what one receive takes; returns its byte count, or -1.
    int ClearInput();
    bool DataAvailable();

    bool Connected() const { return connected_; }
    bool Canceled() const { return canceled_; }
    bool TimedOut() const { return timedOut_; }
    bool Succeed() const { return succeed_; }
    bool LookupDone() const { return lookupDone_; }
    // The IPv4 address Host gave, network byte order; 0 means none (or an IPv6 one).
    std::uint32_t RemoteAddress() const { return remote_.family == AF_INET ? remote_.v4 : 0; }
    // The IPv6 address Host gave; all zero means none (or an IPv4 one).
    std::array<std::uint8_t, 16> RemoteAddress6() const {
        return remote_.isIpv6() ? remote_.v6 : std::array<std::uint8_t, 16>{};
    }
    std::int16_t ReplyNumber() const { return replyNumber_; }
    const std::string& LastReply() const { return lastReply_; }
    std::string Status() const;

  protected:
    // ReadLn within the time left until `until` rather than a TimeOut of its own, so that the
    // lines of one reply share one limit. Without a TimeOut there is no limit.
    std::string ReadLnBy(std::chrono::steady_clock::time_point until);
    // Reports text when level ≤ ReportLevel; a failing OnStatus is ignored.
    void StatusMessage(int level, const std::string& text);
    // Closes a descriptor the way close(2) does; a test replaces it to make a close fail.
    virtual int closeHandle(int fd);
    // For a protocol carried over the connection (TLS): the socket's descriptor, and a wait
    // until it shows events, `until` passes (when TimeOut is not 0) or Cancel comes. False
    // when the limit or a cancel ended the wait; TimedOut() tells which.
    int socketHandle() { return handle(); }
    bool waitSocket(short events, std::chrono::steady_clock::time_point until);
    // Takes line as the reply of a transaction: LastReply, and its number as ReplyNumber.
    void takeReply(std::string line);

  private:
    enum class Woke { Ready, Wakeup, Timer };
    struct WaitResult {
        Woke woke;
        short revents;
    };
    class TimerScope;

    void InitWinsock();
    void openSocket(bool first, int family);
    int handle();
    int handleFor(int family);
    void ResolveRemoteHost();
    void RequestCloseSocket();
    // Starts the time limit: TimeOut from now, or at `until` when given.
    void TimerOn(std::optional<std::chrono::steady_clock::time_point> until = std::nullopt);
    void TimerOff();
    void TimerFired();
    // Raises the text of a system error unless it only means "try again".
    void ErrorManager(int systemError);
    std::string SocketErrorStr(int systemError);
    // Waits until fd (none when negative) shows events, the wake-up descriptor is signalled,
    // or, with useTimer, the time limit passes (then TimerFired has run).
    WaitResult waitFor(int fd, short events, bool useTimer);
    // Takes back a cancel that an operation is about to raise for.
    void consumeCancel();
    // What the system reports for a peer that closed: a close with nothing left to read
    // gives up the socket at once; with data pending it stays for a reader.
    void onCloseNotification();
    void servicePendingClose();
    void sendAll(const char* data, std::size_t length, bool useTimer, bool reportPackets);
    std::string readLine(std::optional<std::chrono::steady_clock::time_point> until);

    UniqueFd socket_;
    WakeupEvent wake_;
    AbandonedLookups abandoned_;
    std::unique_ptr<char[]> buffer_;

    bool connected_ = false;
    std::atomic<bool> canceled_{false};
    bool timedOut_ = false;
    bool succeed_ = false;
    bool lookupDone_ = false;
    bool destroying_ = false;
    NetAddress remote_;
    // The family of the current socket, and whether it is the object's first one.
    int family_ = AF_INET;
    bool first_ = false;
    std::int16_t replyNumber_ = 0;
    std::string lastReply_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;

    mutable std::mutex statusMutex_;
    std::string status_;
};
