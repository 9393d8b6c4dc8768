#include "probes/HostLookup.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

HostLookupResult lookupHost(const std::string& name) {
    HostLookupResult r;
    r.officialName = name;
    if (name.empty()) {
        // Nothing to ask the resolver about; getaddrinfo would not fail it by itself.
        r.error = EAI_NONAME;
        return r;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_RAW;
    // No AI_ADDRCONFIG: a machine whose only IPv6 address is ::1 would then get no IPv6
    // answer at all, and a machine without IPv4 beyond loopback no IPv4 one.
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    r.error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (r.error != 0) {
        return r;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    NetAddress firstV6;
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        const NetAddress a = NetAddress::fromSockaddr(ai->ai_addr, ai->ai_addrlen);
        if (a.family == AF_INET) {
            r.address = a;
            break;
        }
        if (a.family == AF_INET6 && firstV6.family == AF_UNSPEC) {
            firstV6 = a;
        }
    }
    if (r.address.family == AF_UNSPEC) {
        r.address = firstV6;
    }
    if (r.address.family == AF_UNSPEC) {
        r.error = EAI_NONAME;
        return r;
    }
    if (list->ai_canonname != nullptr && list->ai_canonname[0] != '\0') {
        r.officialName = list->ai_canonname;
    }
    return r;
}

std::shared_ptr<PendingLookup> PendingLookup::start(std::string name, Completion onDone) {
    auto lookup = std::make_shared<PendingLookup>(Key{}, std::move(name));
    // The thread holds its own reference: the lookup cannot be interrupted, so it must be
    // able to finish after every waiter has gone.
    std::thread([self = lookup, done = std::move(onDone)] { self->run(done); }).detach();
    return lookup;
}

namespace {
int makeReadyDescriptor() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}
}  // namespace

PendingLookup::PendingLookup(Key, std::string name)
    : name_(std::move(name)), readyFd_(makeReadyDescriptor()) {}

PendingLookup::~PendingLookup() {
    ::close(readyFd_);
}

HostLookupResult PendingLookup::result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

void PendingLookup::run(const Completion& onDone) {
    HostLookupResult r = lookupHost(name_);
    {
        std::lock_guard lock(mutex_);
        result_ = r;
    }
    done_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(readyFd_, &one, sizeof one);
    if (onDone) {
        onDone(r);
    }
}

void AbandonedLookups::add(std::shared_ptr<PendingLookup> lookup) {
    if (lookup && !lookup->done()) {
        running_.push_back(std::move(lookup));
    }
}

bool AbandonedLookups::full() {
    std::erase_if(running_, [](const std::shared_ptr<PendingLookup>& l) { return l->done(); });
    return running_.size() >= kLimit;
}
