#include "probes/HostLookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "probes/WakeupEvent.h"

struct HostLookup::Shared {
    WakeupEvent ready;
    mutable std::mutex mutex;
    bool done = false;
    std::optional<std::uint32_t> address;
};

namespace {

std::optional<std::uint32_t> firstIPv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, &::freeaddrinfo);
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in in{};
            std::memcpy(&in, ai->ai_addr, sizeof in);
            return in.sin_addr.s_addr;
        }
    }
    return std::nullopt;
}

}  // namespace

HostLookup::HostLookup(const std::string& name) : shared_(std::make_shared<Shared>()) {
    // The thread holds its own share, so an abandoned lookup frees its state when the
    // resolver finally returns, whenever that is.
    std::thread([state = shared_, name] {
        std::optional<std::uint32_t> result = firstIPv4(name);
        std::lock_guard lock(state->mutex);
        state->address = result;
        state->done = true;
        state->ready.signal();
    }).detach();
}

HostLookup::~HostLookup() = default;

int HostLookup::readyFd() const {
    return shared_->ready.fd();
}

bool HostLookup::finished() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->done;
}

std::optional<std::uint32_t> HostLookup::address() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->address;
}
