// ICMP echo: TIcmpEcho resolves an address, sends one echo request and keeps the reply;
// TPinger is the component the rest of the program uses, with its settings as properties,
// the engine's events forwarded, and a host-name lookup that completes asynchronously.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "probes/HostLookup.h"
#include "probes/IcmpSocket.h"
#include "probes/NetAddress.h"

class TIcmpException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The options of a request or a reply, in the 8-byte layout of the reply record.
struct IcmpOptionInformation {
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
    std::uint8_t optionsSize = 0;
    std::uint32_t optionsData = 0;
};

// What came back for the last request, in a fixed 28-byte layout. The echoed bytes
// themselves are kept beside it (TIcmpEcho::ReplyData): on this system a pointer does not
// fit four bytes, so `data` holds where the echoed bytes start in the reply area (right after
// this record), or 0 when there are none.
struct IcmpEchoReply {
    std::uint32_t address = 0;        // who answered, IPv4 in network order (0 over IPv6)
    std::uint32_t status = 0;         // an IcmpStatus code
    std::uint32_t roundTripTime = 0;  // milliseconds
    std::uint16_t dataSize = 0;
    std::uint16_t reserved = 0;
    std::uint32_t data = 0;
    IcmpOptionInformation options;
};
static_assert(sizeof(IcmpEchoReply) == 28, "the reply record has a fixed layout");

// The echo engine. Construction never fails for want of a socket: a program without the
// right to send ICMP still starts, every Ping returns 0, and InitError() says why.
class TIcmpEcho {
  public:
    using TIcmpDisplay = std::function<void(TIcmpEcho& sender, const std::string& msg)>;
    using TIcmpRequest = std::function<void(TIcmpEcho& sender)>;
    using TIcmpReply = std::function<void(TIcmpEcho& sender, std::int32_t error)>;

    // The first bytes of every request's data; the rest of the data is spaces.
    static constexpr const char* kIdentification = "Echo request: is this host still up and well?";
    static constexpr std::int32_t kDefaultSize = 56;
    static constexpr std::int32_t kDefaultTimeout = 4000;
    static constexpr std::int32_t kDefaultTTL = 64;
    // Flags bit that asks routers not to fragment the request.
    static constexpr std::int32_t kFlagDontFragment = 0x02;

    TIcmpEcho();
    TIcmpEcho(const TIcmpEcho&) = delete;
    TIcmpEcho& operator=(const TIcmpEcho&) = delete;

    // Number of data bytes in a request (0..65535; larger than one datagram holds is refused
    // by the system as "Packet too big").
    std::int32_t Size = kDefaultSize;
    // How long one request waits for its reply, in milliseconds.
    std::int32_t Timeout = kDefaultTimeout;
    // Time to live (hop limit over IPv6) of a request; only the low byte is used.
    std::int32_t TTL = kDefaultTTL;
    // IP header flags of a request; only the low byte is used (kFlagDontFragment).
    std::int32_t Flags = 0;

    TIcmpDisplay OnDisplay;
    TIcmpRequest OnEchoRequest;
    TIcmpReply OnEchoReply;

    // A different text (exact comparison) forgets the earlier resolution; the same text keeps
    // it, so a name is looked up once per change of address, not on every request.
    void SetAddress(const std::string& text);
    // Turns Address into the address to ping: a dotted IPv4 or an IPv6 address directly, a
    // name through the resolver within Timeout (OnDisplay then says "Host Lookup Timed Out").
    // A name with an IPv4 address is pinged over IPv4, one with only IPv6 addresses over IPv6.
    void ResolveAddr();
    // Sends one request and waits for its reply: 1 when it came, else 0 with LastError set.
    std::int32_t Ping();
    // The text of LastError; after a Ping that had no ICMP socket, why not and what allows it.
    std::string GetErrorString() const;

    // The text for a status code; "ICMP error #" and the number for codes without one.
    static std::string ErrorText(std::int32_t code);

    const std::string& Address() const { return address_; }
    const std::string& HostName() const { return hostName_; }
    // The resolved address as text: dotted IPv4, or IPv6 (with "%" and its zone, if any).
    const std::string& HostIP() const { return hostIP_; }
    // Network order; all ones when not resolved, or resolved to an IPv6 address.
    std::uint32_t IPAddress() const { return target_.family == AF_INET ? target_.v4 : kNoAddress; }
    // The resolved address of either family; none (AF_UNSPEC) when not resolved.
    const NetAddress& Target() const { return target_; }
    bool AddrResolved() const { return addrResolved_; }
    // The status of the last Ping: an IcmpStatus code, or the errno that kept the socket from
    // opening when there is none (GetErrorString then tells what it means).
    std::int32_t LastError() const { return lastError_; }
    const IcmpEchoReply& Reply() const { return reply_; }
    // Who answered the last request, of either family (the reply record holds IPv4 only).
    const NetAddress& ReplyAddress() const { return replyFrom_; }
    const std::vector<std::uint8_t>& ReplyData() const { return replyData_; }

    // Empty when the engine can send; otherwise the construction error ("Unable to get ping
    // handle"). InitErrorDetail() adds the system's reason and what would allow pinging.
    std::string InitError() const;
    std::string InitErrorDetail() const;
    IcmpSocket::Kind SocketKind() const { return socket_.kind(); }
    IcmpSocket::Kind SocketKind6() const { return socket6_.kind(); }

    // Ends a waiting Ping (or its name lookup) at once; safe from any thread.
    void cancel() {
        socket_.cancel();
        socket6_.cancel();
    }

  private:
    static constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

    void display(const std::string& msg);
    std::vector<std::uint8_t> requestData() const;
    IcmpSocket::Wait lookUp(const std::string& name, HostLookupResult& result);
    std::string noSocketText() const;
    IcmpSocket& socketFor(const NetAddress& address) { return address.isIpv6() ? socket6_ : socket_; }

    IcmpSocket socket_;
    IcmpSocket socket6_{AF_INET6};
    AbandonedLookups abandoned_;
    std::optional<TIcmpException> initError_;
    IcmpEchoReply reply_;
    NetAddress replyFrom_;
    std::vector<std::uint8_t> replyData_;
    std::string address_;
    std::string hostName_;
    std::string hostIP_;
    NetAddress target_;
    std::int32_t lastError_ = 0;
    bool addrResolved_ = false;
    // The socket the last Ping needed and could not have (its open failed); null otherwise.
    const IcmpSocket* noSocket_ = nullptr;
    // The status of a lookup that did not end: General failure when cancelled, Request
    // timed out when it took longer than Timeout.
    std::optional<std::int32_t> lookupFailure_;
};

// The ping component: owns one TIcmpEcho and forwards its events with itself as sender.
class TPinger {
  public:
    using TPingerDisplay = std::function<void(TPinger& sender, TIcmpEcho& icmp, const std::string& msg)>;
    using TPingerRequest = std::function<void(TPinger& sender, TIcmpEcho& icmp)>;
    using TPingerReply = std::function<void(TPinger& sender, TIcmpEcho& icmp, std::int32_t error)>;
    using TDnsLookupDone = std::function<void(TPinger& sender, std::uint16_t error)>;
    // Runs a lookup's completion where the owner wants it; a window passes one that queues
    // the call to its own thread. Without one, the completion runs on the lookup's thread.
    using Dispatcher = std::function<void(std::function<void()> completion)>;

    // Error word of a lookup that was cancelled.
    static constexpr std::uint16_t kLookupCancelled = 10004;

    TPinger();
    ~TPinger();
    TPinger(const TPinger&) = delete;
    TPinger& operator=(const TPinger&) = delete;

    std::string GetAddress() const { return echo_.Address(); }
    void SetAddress(const std::string& text) { echo_.SetAddress(text); }
    std::int32_t Size() const { return echo_.Size; }
    void SetSize(std::int32_t v) { echo_.Size = v; }
    std::int32_t Timeout() const { return echo_.Timeout; }
    void SetTimeout(std::int32_t v) { echo_.Timeout = v; }
    std::int32_t TTL() const { return echo_.TTL; }
    void SetTTL(std::int32_t v) { echo_.TTL = v; }
    std::int32_t Flags() const { return echo_.Flags; }
    void SetFlags(std::int32_t v) { echo_.Flags = v; }

    TPingerDisplay OnDisplay;
    TPingerRequest OnEchoRequest;
    TPingerReply OnEchoReply;
    TDnsLookupDone OnDnsLookupDone;

    std::int32_t Ping() { return echo_.Ping(); }

    // Starts looking the name up; OnDnsLookupDone reports the end (error 0 and DnsResult set,
    // or the lookup's error). A lookup still pending is dropped without an event. Throws
    // std::runtime_error when the lookup cannot be started, also while AbandonedLookups::kLimit
    // lookups of this pinger still run (a resolver that does not answer).
    void DnsLookup(const std::string& hostName);
    // Drops a pending lookup and reports it with kLookupCancelled; nothing when none pends.
    void CancelDnsLookup();
    std::string DnsResult() const;
    void SetLookupDispatcher(Dispatcher dispatcher);

    IcmpEchoReply GetReply() const { return echo_.Reply(); }
    std::int32_t GetErrorCode() const { return echo_.LastError(); }
    std::string GetErrorString() const { return echo_.GetErrorString(); }
    std::string GetHostName() const { return echo_.HostName(); }
    std::string GetHostIP() const { return echo_.HostIP(); }

    std::string InitError() const { return echo_.InitError(); }
    std::string InitErrorDetail() const { return echo_.InitErrorDetail(); }
    TIcmpEcho& Icmp() { return echo_; }

    // Ends a waiting Ping at once; safe from any thread.
    void cancel() { echo_.cancel(); }

    // The error word a lookup reports for a getaddrinfo result.
    static std::uint16_t lookupErrorWord(int gaiError);

  private:
    struct LookupState;
    void lookupDone(std::uint64_t id, int gaiError, const NetAddress& address);

    TIcmpEcho echo_;
    std::shared_ptr<LookupState> lookup_;
};
