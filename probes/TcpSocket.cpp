#include "probes/TcpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <system_error>
#include <thread>

#include "probes/HostLookup.h"
#include "probes/WinsockErrors.h"

namespace {

constexpr int kLevelDetail = 8;
constexpr int kLevelSend = 4;
constexpr int kLevelReply = 1;

// A lookup that found no address; Connect turns it into "Null Remote Address".
class HostLookupFailed : public ESocketError {
  public:
    HostLookupFailed() : ESocketError("Host Lookup Failed") {}
};

[[noreturn]] void rangeError() {
    throw std::out_of_range("Range check error");
}

// Outcomes of connect() that arrive later as the connection's result on other systems;
// they are reported as a failed connection, not as a system error of the call. A network
// without a route, or one that is down, is such an outcome like an unreachable host.
bool isConnectOutcome(int systemError) {
    return systemError == ECONNREFUSED || systemError == ETIMEDOUT || systemError == ECONNRESET ||
           systemError == EHOSTUNREACH || systemError == ENETUNREACH || systemError == ENETDOWN;
}

}  // namespace

std::string NthField(const std::string& text, char delimiter, int n) {
    if (n < 1) {
        return {};
    }
    std::size_t start = 0;
    for (int field = 1;; ++field) {
        const std::size_t end = text.find(delimiter, start);
        if (field == n) {
            return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

// Switches the time limit off on every way out of a timed operation.
class TTcpSocket::TimerScope {
  public:
    explicit TimerScope(TTcpSocket& socket,
                        std::optional<std::chrono::steady_clock::time_point> until = std::nullopt)
        : socket_(socket) {
        socket_.TimerOn(until);
    }
    ~TimerScope() { socket_.TimerOff(); }
    TimerScope(const TimerScope&) = delete;
    TimerScope& operator=(const TimerScope&) = delete;

  private:
    TTcpSocket& socket_;
};

TTcpSocket::TTcpSocket() : buffer_(std::make_unique<char[]>(kBufferSize + 1)) {
    StatusMessage(kLevelDetail, "Create");
    InitWinsock();
}

TTcpSocket::~TTcpSocket() {
    StatusMessage(kLevelDetail, "Destroy");
    TTcpSocket::Abort();
    Cancel();
    destroying_ = true;
    try {
        RequestCloseSocket();
    } catch (...) {
        // Nothing is left to report a failed close to.
    }
}

void TTcpSocket::InitWinsock() {
    StatusMessage(kLevelDetail, "Initializing Winsock");
    try {
        openSocket(true, AF_INET);
    } catch (const std::exception&) {
        throw ESocketError("Initializaton of windows sockets failed");
    }
}

void TTcpSocket::openSocket(bool first, int family) {
    UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, first ? IPPROTO_TCP : 0));
    if (!fd) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    if (first) {
        // The first socket of an object resets its connection on close instead of closing
        // it in order; the sockets that replace it close in order.
        const linger hard{1, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    socket_ = std::move(fd);
    family_ = family;
    first_ = first;
}

// The current socket; one is made again if an earlier close could not replace it.
int TTcpSocket::handle() {
    if (!socket_) {
        try {
            openSocket(false, family_);
        } catch (const std::system_error& e) {
            ErrorManager(e.code().value());
            throw;
        }
    }
    return socket_.get();
}

// The current socket, of the family given. One of the other family is replaced by a fresh
// one, which stays the object's first socket when the one it replaces was.
int TTcpSocket::handleFor(int family) {
    if (socket_ && family_ != family) {
        try {
            openSocket(first_, family);
        } catch (const std::system_error& e) {
            ErrorManager(e.code().value());
            throw;
        }
    }
    family_ = family;
    return handle();
}

std::string TTcpSocket::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void TTcpSocket::StatusMessage(int level, const std::string& text) {
    if (level > ReportLevel) {
        return;
    }
    {
        std::lock_guard lock(statusMutex_);
        status_ = text;
    }
    if (!destroying_ && OnStatus) {
        try {
            OnStatus(*this, text);
        } catch (...) {
            // A status display must never break the operation it reports on.
        }
    }
}

int TTcpSocket::closeHandle(int fd) {
    return ::close(fd);
}

std::string TTcpSocket::SocketErrorStr(int systemError) {
    StatusMessage(kLevelDetail, "Looking Up Error Message");
    return socketErrorMessage(winsockCodeOf(systemError));
}

void TTcpSocket::ErrorManager(int systemError) {
    const int code = winsockCodeOf(systemError);
    if (code != kWsaWouldBlock && code > 10000) {
        throw ESocketError(SocketErrorStr(systemError));
    }
}

void TTcpSocket::TimerOn(std::optional<std::chrono::steady_clock::time_point> until) {
    StatusMessage(kLevelDetail, "Timer On");
    timedOut_ = false;
    if (TimeOut < 0) {
        rangeError();
    }
    deadline_.reset();
    if (TimeOut > 0) {
        deadline_ = until.value_or(std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut));
    }
}

void TTcpSocket::TimerOff() {
    StatusMessage(kLevelDetail, "Timer Off");
    deadline_.reset();
}

void TTcpSocket::TimerFired() {
    StatusMessage(kLevelDetail, "Timer Triggered");
    TimerOff();
    timedOut_ = true;
    lookupDone_ = true;
    Abort();
}

TTcpSocket::WaitResult TTcpSocket::waitFor(int fd, short events, bool useTimer) {
    for (;;) {
        int timeoutMs = -1;
        if (useTimer && deadline_) {
            const auto left = *deadline_ - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                TimerFired();
                return {Woke::Timer, 0};
            }
            // Rounded up, so the wait never ends just short of the limit and spins.
            timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {fd, events, 0}};
        const nfds_t count = fd >= 0 ? 2 : 1;
        const int n = ::poll(fds, count, timeoutMs);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ErrorManager(errno);
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            wake_.drain();
            return {Woke::Wakeup, 0};
        }
        if (count == 2 && fds[1].revents != 0) {
            return {Woke::Ready, fds[1].revents};
        }
        // A time-out of poll: the loop head fires the timer once the limit has passed.
    }
}

void TTcpSocket::consumeCancel() {
    // Drained first: a Cancel that slips in between leaves a spare wake-up, which a later
    // wait takes as spurious, rather than a flag without a wake-up.
    wake_.drain();
    canceled_ = false;
}

void TTcpSocket::Cancel() {
    StatusMessage(kLevelDetail, "Canceling");
    canceled_ = true;
    wake_.signal();
}

void TTcpSocket::Abort() {
    StatusMessage(kLevelDetail, "Abort");
    Cancel();
}

bool TTcpSocket::DataAvailable() {
    StatusMessage(kLevelDetail, "Data Available");
    return socket_ && ::recv(socket_.get(), buffer_.get(), 1, MSG_PEEK) >= 1;
}

void TTcpSocket::onCloseNotification() {
    try {
        if (!DataAvailable()) {
            RequestCloseSocket();
        }
    } catch (...) {
        // As with every notification, a failure here has nobody to go to.
    }
}

void TTcpSocket::servicePendingClose() {
    if (!connected_ || !socket_) {
        return;
    }
    pollfd p{socket_.get(), POLLRDHUP, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        onCloseNotification();
    }
}

void TTcpSocket::ResolveRemoteHost() {
    StatusMessage(kLevelDetail, "Resolve Host");
    const std::string host(Host.c_str());  // texts end at their first NUL
    const in_addr_t dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        remote_ = NetAddress::ipv4(dotted);
        return;
    }
    remote_ = NetAddress{};
    NetAddress literal;
    switch (parseIpv6Literal(host, literal)) {
        case Ipv6Literal::Valid:
            remote_ = literal;
            return;
        case Ipv6Literal::Invalid:
            // Not a name either: nothing to look up.
            throw HostLookupFailed();
        case Ipv6Literal::No:
            break;
    }
    std::optional<NetAddress> found;
    {
        TimerScope timer(*this);
        lookupDone_ = false;
        std::shared_ptr<PendingLookup> lookup;
        if (abandoned_.full()) {
            // The resolver has not answered the earlier lookups either: this one would only
            // leave one more thread behind.
            TimerFired();
        } else {
            try {
                lookup = PendingLookup::start(host);
            } catch (const std::system_error&) {
                succeed_ = false;
                lookupDone_ = true;
            }
        }
        while (!lookupDone_ && !timedOut_ && !canceled_) {
            if (waitFor(lookup->readyDescriptor(), POLLIN, true).woke == Woke::Ready) {
                lookupDone_ = true;
                const HostLookupResult result = lookup->result();
                if (result.error == 0) {
                    found = result.address;
                }
                succeed_ = found.has_value();
            }
        }
        // Kept only while it still runs: one given up on by the time limit or Cancel.
        abandoned_.add(lookup);
    }
    if (timedOut_) {
        throw ESocketError(kLookupTimedOutText);
    }
    if (canceled_) {
        throw ESocketError("Host Lookup Canceled");
    }
    if (!succeed_ || !found) {
        throw HostLookupFailed();
    }
    remote_ = *found;
    if (OnHostResolved) {
        OnHostResolved(*this);
    }
}

void TTcpSocket::Connect() {
    StatusMessage(kLevelDetail, "Connecting");
    consumeCancel();
    servicePendingClose();
    if (connected_) {
        throw ESocketError("Already connected");
    }
    for (int tries = 0;; ++tries) {
        try {
            ResolveRemoteHost();
        } catch (const HostLookupFailed&) {
            // An address that cannot be found is reported as no address below.
        }
        if (!remote_.isNull()) {
            break;
        }
        bool handled = false;
        if (tries == 0 && OnInvalidHost) {
            OnInvalidHost(handled);
        }
        if (!handled) {
            throw ESocketError("Null Remote Address");
        }
    }

    sockaddr_storage addr{};
    const socklen_t addrLength = remote_.toSockaddr(static_cast<std::uint16_t>(Port), addr);
    const int fd = handleFor(remote_.family);
    succeed_ = true;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), addrLength) == 0) {
        connected_ = true;
        if (OnConnect) {
            OnConnect(*this);
        }
    } else if (isConnectOutcome(errno)) {
        succeed_ = false;
    } else {
        ErrorManager(errno);
    }

    {
        TimerScope timer(*this);
        while (!connected_ && !timedOut_ && !canceled_ && succeed_) {
            const WaitResult r = waitFor(fd, POLLOUT, true);
            if (r.woke != Woke::Ready) {
                continue;
            }
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
                error = errno;
            }
            succeed_ = error == 0;
            if (succeed_) {
                connected_ = true;
                if (OnConnect) {
                    OnConnect(*this);
                }
            }
        }
    }
    if (!timedOut_ && !canceled_ && succeed_) {
        return;
    }
    if (OnConnectionFailed) {
        OnConnectionFailed(*this);
    }
    if (timedOut_) {
        throw ESocketError("Connection Timed out");
    }
    if (canceled_) {
        throw ESocketError("Connection Canceled");
    }
    throw ESocketError("Connection Failed");
}

void TTcpSocket::Disconnect() {
    StatusMessage(kLevelDetail, "Disconnecting");
    RequestCloseSocket();
}

void TTcpSocket::RequestCloseSocket() {
    StatusMessage(kLevelSend, "Request Close Socket");
    connected_ = false;
    if (!socket_) {
        return;
    }
    if (closeHandle(socket_.release()) != 0) {
        const int error = errno;
        // The descriptor is gone even when close reports an error, so the object takes a
        // fresh socket before it reports the failure; otherwise every later call would
        // fail on a descriptor that no longer exists.
        if (!destroying_) {
            try {
                openSocket(false, family_);
            } catch (const std::system_error&) {
                // handle() tries again at the next Connect.
            }
        }
        ErrorManager(error);
        return;
    }
    if (!destroying_) {
        if (OnDisconnect) {
            OnDisconnect(*this);
        }
        openSocket(false, family_);
    }
}

void TTcpSocket::CertifyConnect() {
    StatusMessage(kLevelDetail, "Checking Connection");
    servicePendingClose();
    for (int tries = 0; !connected_; ++tries) {
        bool handled = false;
        if (tries == 0 && OnConnectionRequired) {
            OnConnectionRequired(handled);
        }
        if (!handled) {
            throw std::runtime_error("Not Connected");
        }
    }
}

void TTcpSocket::sendAll(const char* data, std::size_t length, bool useTimer, bool reportPackets) {
    const int fd = handle();
    std::size_t remaining = length;
    while (remaining > 0 && !canceled_) {
        const ssize_t n = ::send(fd, data + (length - remaining), remaining, MSG_NOSIGNAL);
        if (n == 0) {
            return;
        }
        if (n < 0) {
            const int error = errno;
            if (error == EINTR) {
                continue;
            }
            ErrorManager(error);
            // Would block: wait until the socket takes more, the time limit passes or a
            // cancel comes.
            waitFor(fd, POLLOUT, useTimer);
            continue;
        }
        remaining -= static_cast<std::size_t>(n);
        if (reportPackets && OnPacketSent) {
            OnPacketSent(*this);
        }
    }
}

void TTcpSocket::SendBuffer(const char* data, std::uint16_t length) {
    StatusMessage(kLevelSend, "Sending Buffer");
    {
        TimerScope timer(*this);
        if (!canceled_) {
            std::size_t size = length;
            if (size == 0) {
                size = ::strnlen(data, kBufferSize);
                if (size > 65535) {
                    rangeError();
                }
            }
            sendAll(data, size, true, false);
        }
    }
    if (canceled_) {
        consumeCancel();
        throw ESocketAbort("Socket send aborted");
    }
}

void TTcpSocket::Write(const std::string& text) {
    StatusMessage(kLevelDetail, "Write");
    const std::size_t size = ::strnlen(text.data(), text.size());
    if (size > 65535) {
        rangeError();
    }
    std::memcpy(buffer_.get(), text.data(), size);
    buffer_[size] = '\0';
    SendBuffer(buffer_.get(), 0);
}

void TTcpSocket::Writeln(const std::string& text) {
    StatusMessage(kLevelDetail, "Writeln");
    Write(text + "\r\n");
}

std::string TTcpSocket::Read(std::uint16_t count) {
    StatusMessage(kLevelDetail, "Read( " + std::to_string(count) + " )");
    const int fd = handle();
    char* const buf = buffer_.get();
    if (count == 0) {
        // Whatever is pending now; a peek never waits, so there is nothing to cancel. At
        // most 65535 bytes, the most one read can return.
        const ssize_t n = ::recv(fd, buf, 65535, MSG_PEEK);
        if (n < 0) {
            ErrorManager(errno);
            return {};
        }
        if (n == 0) {
            onCloseNotification();
            return {};
        }
        const ssize_t got = ::recv(fd, buf, static_cast<std::size_t>(n), 0);
        return std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }

    // poll() reports the socket readable only once count bytes are pending, so waiting for
    // a reply that arrives in pieces costs no turns of the loop.
    const int lowWater = count;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
    struct LowWaterReset {
        int fd;
        ~LowWaterReset() {
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
        }
    } lowWaterReset{fd};

    bool peerClosed = false;
    bool wokenByData = false;
    ssize_t pendingBeforeWait = -1;
    for (;;) {
        const ssize_t n = ::recv(fd, buf, kBufferSize, MSG_PEEK);
        if (n >= count) {
            break;
        }
        if (n == 0) {
            onCloseNotification();
            return {};
        }
        if (n < 0) {
            ErrorManager(errno);
        }
        if (canceled_) {
            break;
        }
        if (peerClosed) {
            // Nothing more can come: only Cancel ends this wait.
            waitFor(-1, 0, false);
            continue;
        }
        if (wokenByData && n == pendingBeforeWait) {
            // Reported readable without anything new (memory pressure can make the system
            // report that early): pause briefly instead of turning the loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pendingBeforeWait = n;
        const WaitResult r = waitFor(fd, POLLIN | POLLRDHUP, false);
        wokenByData = r.woke == Woke::Ready;
        if (wokenByData) {
            peerClosed = (r.revents & (POLLRDHUP | POLLHUP)) != 0;
        }
    }
    if (canceled_) {
        consumeCancel();
        throw ESocketAbort("Socket send aborted");
    }
    const ssize_t got = ::recv(fd, buf, count, 0);
    return std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
}

std::string TTcpSocket::ReadLn() {
    return readLine(std::nullopt);
}

std::string TTcpSocket::ReadLnBy(std::chrono::steady_clock::time_point until) {
    return readLine(until);
}

std::string TTcpSocket::readLine(std::optional<std::chrono::steady_clock::time_point> until) {
    StatusMessage(kLevelDetail, "ReadLn");
    const int fd = handle();
    char* const buf = buffer_.get();
    std::string result;
    std::size_t taken = 0;
    std::size_t lineEnd = 0;
    {
        TimerScope timer(*this, until);
        for (;;) {
            if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
                // Lines that keep arriving never make the wait below time out by itself.
                TimerFired();
                break;
            }
            if (taken >= kBufferSize) {
                // The line does not fit the buffer.
                throw ESocketError(socketErrorMessage(kWsaMessageTooLong));
            }
            const ssize_t n = ::recv(fd, buf + taken, kBufferSize - taken, MSG_PEEK);
            if (n == 0) {
                onCloseNotification();
                return {};
            }
            if (n > 0) {
                const void* lf = std::memchr(buf + taken, '\n', static_cast<std::size_t>(n));
                if (lf != nullptr) {
                    lineEnd = static_cast<std::size_t>(static_cast<const char*>(lf) - buf);
                    break;
                }
                const ssize_t got = ::recv(fd, buf + taken, static_cast<std::size_t>(n), 0);
                if (got > 0) {
                    result.append(buf + taken, static_cast<std::size_t>(got));
                    taken += static_cast<std::size_t>(got);
                }
            } else {
                const int error = errno;
                if (error == ENOTCONN) {
                    return {};
                }
                ErrorManager(error);
            }
            if (canceled_) {
                break;
            }
            if (n < 0) {
                waitFor(fd, POLLIN | POLLRDHUP, true);
            }
        }
    }
    if (canceled_) {
        consumeCancel();
        throw ESocketAbort("Socket readln aborted");
    }
    const ssize_t got = ::recv(fd, buf + taken, lineEnd + 1 - taken, 0);
    if (got > 0) {
        result.append(buf + taken, static_cast<std::size_t>(got));
    }
    return result;
}

std::string TTcpSocket::Transaction(const std::string& command) {
    StatusMessage(kLevelDetail, "Transaction");
    replyNumber_ = 0;
    Writeln(command);
    takeReply(ReadLn());
    return lastReply_;
}

void TTcpSocket::takeReply(std::string line) {
    replyNumber_ = 0;
    lastReply_ = std::move(line);
    if (!lastReply_.empty()) {
        StatusMessage(kLevelReply, lastReply_);
        long long number = 0;
        std::size_t digits = 0;
        while (digits < lastReply_.size() && digits < 10 && lastReply_[digits] >= '0' &&
               lastReply_[digits] <= '9') {
            number = number * 10 + (lastReply_[digits] - '0');
            ++digits;
        }
        if (digits > 0) {
            if (number > 32767) {
                rangeError();
            }
            replyNumber_ = static_cast<std::int16_t>(number);
        }
    }
}

bool TTcpSocket::waitSocket(short events, std::chrono::steady_clock::time_point until) {
    const int fd = handle();
    {
        TimerScope timer(*this, until);
        if (!canceled_) {
            waitFor(fd, events, true);
        }
    }
    // The time limit ends a wait through Abort, as a cancel does.
    if (canceled_) {
        consumeCancel();
        return false;
    }
    return true;
}

void TTcpSocket::SendStream(std::istream& stream) {
    StatusMessage(kLevelDetail, "SendStream");
    stream.clear();
    stream.seekg(0);
    char* const buf = buffer_.get();
    while (!canceled_ && stream) {
        stream.read(buf, static_cast<std::streamsize>(kBufferSize));
        const auto got = static_cast<std::size_t>(stream.gcount());
        if (got == 0) {
            break;
        }
        sendAll(buf, got, false, true);
    }
    if (canceled_) {
        consumeCancel();
        throw ESocketAbort("Socket send aborted");
    }
}

int TTcpSocket::ClearInput() {
    StatusMessage(kLevelDetail, "Clearing Input");
    if (!socket_) {
        return -1;
    }
    return static_cast<int>(::recv(socket_.get(), buffer_.get(), kBufferSize, 0));
}
