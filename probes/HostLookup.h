// Host-name lookups through the system's resolver (getaddrinfo, so /etc/hosts, DNS and every
// other configured source take part), blocking or on a thread of their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "probes/NetAddress.h"

// What a lookup that did not end in time reports, and one refused because too many of its
// owner's abandoned lookups still run.
inline constexpr const char* kLookupTimedOutText = "Host Lookup Timed Out";

struct HostLookupResult {
    // 0, or the getaddrinfo error (EAI_*) that ended the lookup.
    int error = 0;
    // The name's first IPv4 address, or its first IPv6 address when it has no IPv4 one;
    // meaningful only when error is 0.
    NetAddress address;
    // The official (canonical) name of the host, or the name looked up when it has none.
    std::string officialName;
};

// Looks the name up and waits for the answer, with no time limit of its own. Both families are
// asked for, also where the machine has one of them only on loopback: a name with an IPv4
// address is reached over IPv4 as it always was, and one with only IPv6 addresses over IPv6.
HostLookupResult lookupHost(const std::string& name);

// A lookup that runs on a thread of its own. The thread keeps this object alive until it has
// finished, so whoever started it may stop waiting at any moment without leaking or blocking.
class PendingLookup : public std::enable_shared_from_this<PendingLookup> {
  public:
    using Completion = std::function<void(const HostLookupResult&)>;

    // Starts the lookup; onDone, when given, runs on the lookup's thread after the result is
    // stored. Throws std::system_error when no thread or descriptor can be had.
    static std::shared_ptr<PendingLookup> start(std::string name, Completion onDone = {});

    struct Key {
        explicit Key() = default;
    };
    PendingLookup(Key, std::string name);
    ~PendingLookup();
    PendingLookup(const PendingLookup&) = delete;
    PendingLookup& operator=(const PendingLookup&) = delete;

    // Becomes readable when the result is there (for poll).
    int readyDescriptor() const { return readyFd_; }
    bool done() const { return done_.load(std::memory_order_acquire); }
    // The result; valid once done() is true.
    HostLookupResult result() const;

  private:
    void run(const Completion& onDone);

    const std::string name_;
    const int readyFd_;
    mutable std::mutex mutex_;
    HostLookupResult result_;
    std::atomic<bool> done_{false};
};

// The lookups an owner stopped waiting for (timed out or cancelled) while they still run. A
// lookup cannot be interrupted, so a resolver that hangs would leave one thread behind per
// check for as long as it hangs; with kLimit of them still running, the owner starts no more
// and fails the check at once instead.
class AbandonedLookups {
  public:
    static constexpr std::size_t kLimit = 4;

    // A lookup that was not waited for to its end.
    void add(std::shared_ptr<PendingLookup> lookup);
    // Whether kLimit of the lookups added still run; those that have ended are forgotten.
    bool full();

  private:
    std::vector<std::shared_ptr<PendingLookup>> running_;
};
