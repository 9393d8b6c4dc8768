#include "probes/Ping.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace {

constexpr const char* kNoHandle = "Unable to get ping handle";

// True for the dotted forms the system accepts ("10.1.2.3", also "127.1" and the like).
bool parseDotted(const std::string& text, std::uint32_t& address) {
    in_addr a{};
    if (::inet_aton(text.c_str(), &a) == 0) {
        return false;
    }
    address = a.s_addr;
    return true;
}

// What a host text spells out itself: Valid for a dotted IPv4 or an IPv6 address, Invalid for
// one written like an IPv6 address that is none, No for a name.
Ipv6Literal parseLiteral(const std::string& text, NetAddress& address) {
    std::uint32_t v4 = 0;
    if (parseDotted(text, v4)) {
        address = NetAddress::ipv4(v4);
        return Ipv6Literal::Valid;
    }
    return parseIpv6Literal(text, address);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIcmpEcho

TIcmpEcho::TIcmpEcho() {
    if (!socket_.isOpen()) {
        initError_.emplace(kNoHandle);
    }
}

std::string TIcmpEcho::InitError() const {
    return initError_ ? initError_->what() : std::string();
}

std::string TIcmpEcho::InitErrorDetail() const {
    if (!initError_) {
        return {};
    }
    return std::string(initError_->what()) + ": " + std::strerror(socket_.openError()) +
           ". Ping hosts cannot be checked. Allow unprivileged ping for the user's group "
           "(sysctl net.ipv4.ping_group_range) or give the program the capability cap_net_raw.";
}

void TIcmpEcho::display(const std::string& msg) {
    if (OnDisplay) {
        OnDisplay(*this, msg);
    }
}

void TIcmpEcho::SetAddress(const std::string& text) {
    if (text != address_) {
        address_ = text;
        addrResolved_ = false;
    }
}

IcmpSocket::Wait TIcmpEcho::lookUp(const std::string& name, HostLookupResult& result) {
    if (abandoned_.full()) {
        // The resolver has not answered the earlier lookups either: this one would only leave
        // one more thread behind.
        return IcmpSocket::Wait::TimedOut;
    }
    std::shared_ptr<PendingLookup> pending;
    try {
        pending = PendingLookup::start(name);
    } catch (const std::system_error&) {
        // No thread to spare, and waiting here would have no limit: the name is not found.
        result.error = EAI_SYSTEM;
        return IcmpSocket::Wait::Ready;
    }
    const IcmpSocket::Wait end = socket_.waitReadable(pending->readyDescriptor(), Timeout);
    if (end == IcmpSocket::Wait::Ready) {
        result = pending->result();
    } else {
        abandoned_.add(pending);
    }
    return end;
}

void TIcmpEcho::ResolveAddr() {
    lookupFailure_.reset();
    NetAddress literal;
    const Ipv6Literal spelled = parseLiteral(address_, literal);
    if (spelled == Ipv6Literal::Valid) {
        target_ = literal.unmapped();
        hostName_ = address_;
    } else if (spelled == Ipv6Literal::Invalid) {
        // Written as an IPv6 address but not a valid one: there is no name to look up.
        lastError_ = IcmpStatus::BadDestination;
        target_ = NetAddress{};
        display("Unable to resolve " + address_);
        return;
    } else {
        HostLookupResult found;
        const IcmpSocket::Wait end = lookUp(address_, found);
        if (end != IcmpSocket::Wait::Ready) {
            target_ = NetAddress{};
            if (end == IcmpSocket::Wait::TimedOut) {
                lookupFailure_ = IcmpStatus::RequestTimedOut;
                display(kLookupTimedOutText);
            } else {
                lookupFailure_ = IcmpStatus::GeneralFailure;
            }
            return;
        }
        if (found.error != 0) {
            lastError_ = IcmpStatus::BadDestination;
            target_ = NetAddress{};
            display("Unable to resolve " + address_);
            return;
        }
        target_ = found.address.unmapped();
        hostName_ = found.officialName;
    }
    hostIP_ = target_.text();
    addrResolved_ = true;
}

std::vector<std::uint8_t> TIcmpEcho::requestData() const {
    const std::size_t size = static_cast<std::size_t>(Size);
    std::vector<std::uint8_t> data(size, ' ');
    const std::size_t idLength = std::strlen(kIdentification);
    std::copy_n(kIdentification, size < idLength ? size : idLength, data.begin());
    return data;
}

std::int32_t TIcmpEcho::Ping() {
    lastError_ = 0;
    noSocket_ = nullptr;
    socket_.resetCancel();
    socket6_.resetCancel();
    if (!addrResolved_) {
        ResolveAddr();
    }
    if (lookupFailure_) {
        lastError_ = *lookupFailure_;
        lookupFailure_.reset();
        return 0;
    }
    // All ones is no address in the dotted form either, and the unspecified address (0.0.0.0,
    // ::) reaches no host: no reply would ever come.
    if (target_.isNull() || (target_.family == AF_INET && target_.v4 == kNoAddress)) {
        lastError_ = IcmpStatus::BadDestination;
        display("Invalid host address");
        return 0;
    }
    const bool sizeOk = Size >= 0 && Size <= 0xFFFF;
    const std::vector<std::uint8_t> data = sizeOk ? requestData() : std::vector<std::uint8_t>();
    reply_ = IcmpEchoReply{};
    replyFrom_ = NetAddress{};
    replyData_.clear();
    if (OnEchoRequest) {
        OnEchoRequest(*this);
    }

    std::int32_t result = 0;
    IcmpSocket& socket = socketFor(target_);
    if (!socket.isOpen()) {
        lastError_ = socket.openError();
        noSocket_ = &socket;
        display(noSocketText());
    } else if (!sizeOk) {
        lastError_ = IcmpStatus::BadRequest;
    } else {
        IcmpSocket::Request request;
        request.address = target_;
        request.data = data;
        request.ttl = static_cast<std::uint8_t>(TTL & 0xFF);
        request.flags = static_cast<std::uint8_t>(Flags & 0xFF);
        request.timeoutMs = Timeout;
        IcmpSocket::Outcome out = socket.echo(request);
        lastError_ = out.status;
        if (out.replied || out.from.family != AF_UNSPEC) {
            replyFrom_ = out.from;
            reply_.address = out.from.family == AF_INET ? out.from.v4 : 0;
            reply_.status = static_cast<std::uint32_t>(out.status);
            reply_.roundTripTime = out.roundTripMs;
            reply_.dataSize = static_cast<std::uint16_t>(out.data.size());
            reply_.data = out.data.empty() ? 0 : static_cast<std::uint32_t>(sizeof(IcmpEchoReply));
            reply_.options.ttl = out.ttl;
            reply_.options.tos = out.tos;
            reply_.options.flags = out.flags;
            replyData_ = std::move(out.data);
        }
        result = out.replied ? 1 : 0;
    }
    if (OnEchoReply) {
        OnEchoReply(*this, result);
    }
    return result;
}

std::string TIcmpEcho::GetErrorString() const {
    return noSocket_ != nullptr ? noSocketText() : ErrorText(lastError_);
}

std::string TIcmpEcho::noSocketText() const {
    const int error = (noSocket_ != nullptr ? noSocket_ : &socket_)->openError();
    const std::string reason = std::generic_category().message(error);
    if (error == EPERM || error == EACCES) {
        return "No permission to send ICMP echo requests (" + reason +
               "): allow unprivileged ping for the user's group with net.ipv4.ping_group_range, or give "
               "the program the cap_net_raw capability";
    }
    return "Unable to open an ICMP socket (" + reason + ")";
}

std::string TIcmpEcho::ErrorText(std::int32_t code) {
    switch (code) {
        case IcmpStatus::Success:
            return "No error";
        case IcmpStatus::BufferTooSmall:
            return "Buffer too small";
        case IcmpStatus::DestNetUnreachable:
            return "Destination network unreachable";
        case IcmpStatus::DestHostUnreachable:
            return "Destination host unreachable";
        case IcmpStatus::DestProtocolUnreachable:
            return "Destination protocol unreachable";
        case IcmpStatus::DestPortUnreachable:
            return "Destination port unreachable";
        case IcmpStatus::NoResources:
            return "No resources";
        case IcmpStatus::BadOption:
            return "Bad option";
        case IcmpStatus::HardwareError:
            return "Hardware error";
        case IcmpStatus::PacketTooBig:
            return "Packet too big";
        case IcmpStatus::RequestTimedOut:
            return "Request timed out";
        case IcmpStatus::BadRequest:
            return "Bad request";
        case IcmpStatus::BadRoute:
            return "Bad route";
        case IcmpStatus::TtlExpiredTransit:
            return "TTL expired in transit";
        case IcmpStatus::TtlExpiredReassembly:
            return "TTL expired in reassembly";
        case IcmpStatus::ParameterProblem:
            return "Parameter problem";
        case IcmpStatus::SourceQuench:
            return "Source quench";
        case IcmpStatus::OptionTooBig:
            return "Option too big";
        case IcmpStatus::BadDestination:
            return "Bad Destination";
        case IcmpStatus::AddressDeleted:
            return "Address deleted";
        case IcmpStatus::SpecMtuChange:
            return "Spec MTU change";
        case IcmpStatus::MtuChange:
            return "MTU change";
        case IcmpStatus::GeneralFailure:
            return "General failure";
        case IcmpStatus::Pending:
            return "Pending";
        default:
            return "ICMP error #" + std::to_string(code);
    }
}

// ---------------------------------------------------------------------------------------------
// TPinger

// Shared with the lookup threads, which may finish after the pinger is gone: the owner is
// cleared on destruction, under the lock the completions take.
struct TPinger::LookupState {
    std::recursive_mutex mutex;
    TPinger* owner = nullptr;
    std::uint64_t pending = 0;  // 0: no lookup pending
    std::uint64_t nextId = 1;
    std::string dnsResult;
    Dispatcher dispatcher;
    // Lookups started and not yet ended, replaced and cancelled ones included: a lookup
    // cannot be interrupted, so a hanging resolver would otherwise leave a thread behind per
    // call.
    AbandonedLookups running;
};

TPinger::TPinger() : lookup_(std::make_shared<LookupState>()) {
    lookup_->owner = this;
    echo_.OnDisplay = [this](TIcmpEcho& icmp, const std::string& msg) {
        if (OnDisplay) {
            OnDisplay(*this, icmp, msg);
        }
    };
    echo_.OnEchoRequest = [this](TIcmpEcho& icmp) {
        if (OnEchoRequest) {
            OnEchoRequest(*this, icmp);
        }
    };
    echo_.OnEchoReply = [this](TIcmpEcho& icmp, std::int32_t error) {
        if (OnEchoReply) {
            OnEchoReply(*this, icmp, error);
        }
    };
}

TPinger::~TPinger() {
    CancelDnsLookup();
    std::lock_guard lock(lookup_->mutex);
    lookup_->owner = nullptr;
}

void TPinger::SetLookupDispatcher(Dispatcher dispatcher) {
    std::lock_guard lock(lookup_->mutex);
    lookup_->dispatcher = std::move(dispatcher);
}

std::string TPinger::DnsResult() const {
    std::lock_guard lock(lookup_->mutex);
    return lookup_->dnsResult;
}

std::uint16_t TPinger::lookupErrorWord(int gaiError) {
    switch (gaiError) {
        case 0:
            return 0;
        case EAI_NONAME:
            return 11001;  // host not found
        case EAI_AGAIN:
            return 11002;  // try again
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return 11004;  // the name exists but has no address
        default:
            return 11003;  // not recoverable
    }
}

void TPinger::DnsLookup(const std::string& hostName) {
    std::unique_lock lock(lookup_->mutex);
    lookup_->pending = 0;
    lookup_->dnsResult.clear();
    NetAddress literal;
    if (parseLiteral(hostName, literal) == Ipv6Literal::Valid) {
        lookup_->dnsResult = literal.text();
        if (OnDnsLookupDone) {
            OnDnsLookupDone(*this, 0);
        }
        return;
    }
    const std::uint64_t id = lookup_->nextId++;
    lookup_->pending = id;
    auto completion = [state = lookup_, id, dispatcher = lookup_->dispatcher](const HostLookupResult& r) {
        auto finish = [state, id, error = r.error, found = r.address] {
            std::lock_guard inner(state->mutex);
            if (state->owner != nullptr) {
                state->owner->lookupDone(id, error, found);
            }
        };
        if (dispatcher) {
            dispatcher(finish);
        } else {
            finish();
        }
    };
    try {
        if (lookup_->running.full()) {
            throw std::system_error(EAGAIN, std::generic_category(), "too many lookups still running");
        }
        lookup_->running.add(PendingLookup::start(hostName, completion));
    } catch (const std::system_error& e) {
        lookup_->pending = 0;
        throw std::runtime_error(hostName + ": can't start DNS lookup, error #" +
                                 std::to_string(e.code().value()));
    }
}

void TPinger::lookupDone(std::uint64_t id, int gaiError, const NetAddress& address) {
    // Called with the state's lock held. A completion of a lookup that was cancelled or
    // replaced finds another id pending and is dropped.
    if (id != lookup_->pending) {
        return;
    }
    lookup_->pending = 0;
    if (gaiError == 0) {
        lookup_->dnsResult = address.text();
    }
    if (OnDnsLookupDone) {
        OnDnsLookupDone(*this, lookupErrorWord(gaiError));
    }
}

void TPinger::CancelDnsLookup() {
    std::lock_guard lock(lookup_->mutex);
    if (lookup_->pending == 0) {
        return;
    }
    lookup_->pending = 0;
    if (OnDnsLookupDone) {
        OnDnsLookupDone(*this, kLookupCancelled);
    }
}
