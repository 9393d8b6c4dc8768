// A host name lookup that the caller can stop waiting for. getaddrinfo cannot be
// interrupted, so it runs on a thread of its own; a caller that gives up (deadline or
// cancel) abandons the lookup, and the thread frees everything when the resolver returns.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class HostLookup {
  public:
    // Starts looking up the first IPv4 address of name through the system's resolver
    // (/etc/hosts, DNS and every other source the system names). Throws std::system_error
    // when no thread or descriptor can be had.
    explicit HostLookup(const std::string& name);
    ~HostLookup();
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Readable once the lookup has finished.
    int readyFd() const;
    bool finished() const;
    // After finished(): the address in network byte order, or nothing when the name has no
    // IPv4 address or the lookup failed.
    std::optional<std::uint32_t> address() const;

  private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
