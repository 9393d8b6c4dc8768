#include "platform/SystemBus.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>
#include <vector>

namespace {

// ssh gives up on a host that does not let it in within this time, so a dead machine fails
// with ssh's own reason (on standard error) while the open's limit still runs.
constexpr const char* kSshConnectTimeout = "ConnectTimeout=10";

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string hostName() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return {};
    }
    return buf;
}

bool allDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "host:port" as systemctl -H takes it; a name with more than one colon is an IPv6 address.
// An IPv6 address may also be written in brackets, "[2001:db8::1]" or "[2001:db8::1]:2222"
// (after "user@" or not); ssh takes it without them.
void splitPort(std::string& host, std::string& port) {
    const std::size_t at = host.find('@');
    const std::size_t open = at == std::string::npos ? 0 : at + 1;
    const std::size_t close = host.find(']', open);
    if (open < host.size() && host[open] == '[' && close != std::string::npos) {
        const std::string rest = host.substr(close + 1);
        if (!rest.empty() && !(rest[0] == ':' && allDigits(rest.substr(1)))) {
            return;  // not an address in brackets: passed on as typed
        }
        if (!rest.empty()) {
            port = rest.substr(1);
        }
        host = host.substr(0, open) + host.substr(open + 1, close - open - 1);
        return;
    }
    const std::size_t colon = host.find(':');
    if (colon == std::string::npos || host.find(':', colon + 1) != std::string::npos ||
        !allDigits(host.substr(colon + 1))) {
        return;
    }
    port = host.substr(colon + 1);
    host.erase(colon);
}

// The machine's bus through systemd's stdio bridge over SSH. Batch mode: a password,
// passphrase or unknown host key fails at once instead of waiting for an answer nobody
// gives.
int startRemoteBus(const std::string& machine, sd_bus* bus) {
    std::string host = plainMachineName(machine);
    std::string port;
    splitPort(host, port);
    std::vector<std::string> args = {"ssh", "-xT", "-o", "BatchMode=yes", "-o", kSshConnectTimeout};
    if (!port.empty()) {
        args.insert(args.end(), {"-p", port});
    }
    args.insert(args.end(), {"--", host, "systemd-stdio-bridge"});
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int r = sd_bus_set_exec(bus, "ssh", argv.data());
    if (r >= 0) {
        r = sd_bus_set_bus_client(bus, 1);
    }
    return r < 0 ? r : sd_bus_start(bus);
}

std::uint64_t monotonicUsec() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000U + static_cast<std::uint64_t>(ts.tv_nsec) / 1000U;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

std::chrono::microseconds timeLeft(const BusLimit& limit) {
    return std::chrono::duration_cast<std::chrono::microseconds>(limit.deadline -
                                                                 std::chrono::steady_clock::now());
}

// Waits until the bus has something to do, its own next timeout, the deadline or a cancel.
int waitForBus(sd_bus* bus, const BusLimit& limit) {
    const int fd = sd_bus_get_fd(bus);
    if (fd < 0) {
        return fd;
    }
    const int events = sd_bus_get_events(bus);
    if (events < 0) {
        return events;
    }
    std::uint64_t busTimeout = UINT64_MAX;  // absolute, on the monotonic clock
    if (const int r = sd_bus_get_timeout(bus, &busTimeout); r < 0) {
        return r;
    }
    const long long left = timeLeft(limit).count();
    if (left <= 0) {
        return -ETIMEDOUT;
    }
    auto wait = static_cast<std::uint64_t>(left);
    if (busTimeout != UINT64_MAX) {
        const std::uint64_t now = monotonicUsec();
        wait = std::min(wait, busTimeout > now ? busTimeout - now : 0);
    }
    const int waitMs = static_cast<int>((wait + 999) / 1000);  // rounded up: no busy loop
    pollfd fds[2] = {{fd, static_cast<short>(events), 0},
                     {limit.cancel != nullptr ? limit.cancel->fd() : -1, POLLIN, 0}};
    if (::poll(fds, 2, waitMs) < 0) {
        return errno == EINTR ? 0 : -errno;
    }
    return (fds[1].revents & POLLIN) != 0 ? -ECANCELED : 0;
}

struct Pending {
    bool done = false;
    MessagePtr reply;
};

int onReply(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    auto* pending = static_cast<Pending*>(userdata);
    pending->reply.reset(sd_bus_message_ref(m));
    pending->done = true;
    return 1;
}

struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

}  // namespace

std::string plainMachineName(const std::string& machine) {
    const std::size_t start = machine.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : machine.substr(start);
}

bool isLocalMachine(const std::string& machine) {
    std::string name = lower(plainMachineName(machine));
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    // Only the usual loopback address: another one of 127/8 is taken as typed, so a test can
    // aim at "another machine" that is not there.
    if (name.empty() || name == "." || name == "localhost" || name == "127.0.0.1" || name == "::1") {
        return true;
    }
    const std::string self = lower(hostName());
    if (self.empty()) {
        return false;
    }
    const std::string shortSelf = self.substr(0, self.find('.'));
    return name == self || name == shortSelf;
}

int openSystemBus(const std::string& machine, BusPtr& bus) {
    sd_bus* raw = nullptr;
    if (isLocalMachine(machine)) {
        const int r = sd_bus_open_system(&raw);
        if (r < 0) {
            return r;
        }
        bus.reset(raw);
        return 0;
    }
    if (const int r = sd_bus_new(&raw); r < 0) {
        return r;
    }
    BusPtr remote(raw);
    if (const int r = startRemoteBus(machine, raw); r < 0) {
        return r;
    }
    bus = std::move(remote);
    return 0;
}

int newMethodCall(sd_bus* bus, const char* destination, const char* path, const char* interface,
                  const char* member, MessagePtr& call) {
    sd_bus_message* raw = nullptr;
    const int r = sd_bus_message_new_method_call(bus, &raw, destination, path, interface, member);
    if (r < 0) {
        return r;
    }
    call.reset(raw);
    return 0;
}

int callMethod(sd_bus* bus, sd_bus_message* call, const BusLimit& limit, BusError& error, MessagePtr& reply) {
    // A cancelled step sends nothing more: no start or reboot goes out after the close.
    if (limit.cancel != nullptr && readable(limit.cancel->fd())) {
        return -ECANCELED;
    }
    const long long left = timeLeft(limit).count();
    if (left <= 0) {
        return -ETIMEDOUT;
    }
    Pending pending;
    sd_bus_slot* rawSlot = nullptr;
    // The reply's own time-out is the deadline too; it also covers the time the connection
    // still takes to come up.
    if (const int r =
            sd_bus_call_async(bus, &rawSlot, call, onReply, &pending, static_cast<std::uint64_t>(left));
        r < 0) {
        return r;
    }
    // Dropping the slot on an early return forgets the call, so no late reply lands here.
    const std::unique_ptr<sd_bus_slot, SlotUnref> slot(rawSlot);
    while (!pending.done) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            return r;
        }
        if (pending.done) {
            break;
        }
        if (r > 0) {
            continue;  // more may be ready at once
        }
        if ((r = waitForBus(bus, limit)) < 0) {
            return r;
        }
    }
    if (sd_bus_message_is_method_error(pending.reply.get(), nullptr) != 0) {
        return sd_bus_error_copy(error.get(), sd_bus_message_get_error(pending.reply.get()));
    }
    reply = std::move(pending.reply);
    return 1;
}
