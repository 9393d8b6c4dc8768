// The monitor thread: checks every host of the document in list order, over and over,
// counts good and bad checks, declares hosts down and up, and counts the interval down.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Clock.h"
#include "core/LiveConfig.h"
#include "core/MonitorView.h"
#include "core/Vardo.h"

// The flags shared by the window and the monitor thread.
struct MonitorFlags {
    std::atomic<bool> running{false};
    std::atomic<bool> threadDone{true};
    std::atomic<bool> checkNow{false};
    // Outcome of the pending connection: 0 pending, 1 connected, 2 failed.
    std::atomic<std::int32_t> connectState{0};
    // Set only when the window closes: leave the cycle before the next host.
    std::atomic<bool> abort{false};
    // Makes the thread's decision to end and a new Start one step each: a Start that comes
    // before the thread has decided lets it carry on, one that comes after starts anew.
    std::mutex lifeMutex;
};

// An open connection to the service manager of one machine.
class ServiceManagerHandle {
  public:
    virtual ~ServiceManagerHandle() = default;
};
using ServiceHandle = std::unique_ptr<ServiceManagerHandle>;

// The checks the cycle runs. The probes turn every failure into a negative result.
class HostProbes {
  public:
    virtual ~HostProbes() = default;
    virtual bool checkTcpConnect(const std::string& address, std::int32_t port) = 0;
    virtual bool checkTcpReceive(const ServerItem& item) = 0;
    virtual bool checkTcpSendReceive(const ServerItem& item) = 0;
    // A web request (tcpType TcpHttpRequest) to the URL in item.address.
    virtual bool checkHttpRequest(const ServerItem&, const HostExtras&) { return false; }
    // One of the three TCP checks inside TLS, as the host's extended settings ask.
    virtual bool checkTcpTls(const ServerItem&, const HostExtras&) { return false; }
    // The ping component keeps its settings; the cycle changes only its address.
    virtual void setPingAddress(const std::string& address) = 0;
    // 1 when an echo reply came, else 0.
    virtual int ping() = 0;
    // Null when the machine's service manager cannot be opened.
    virtual ServiceHandle openServiceManager(const std::string& machine) = 0;
    // False when the query failed; otherwise running tells the service's state.
    virtual bool queryServiceRunning(ServiceManagerHandle& handle, const std::string& service,
                                     bool& running) = 0;
    virtual void closeServiceManager(ServiceHandle handle) = 0;
    // Ends a waiting check at once; safe from any thread. Used only at shutdown.
    virtual void cancel() {}
    // What a set that checks beside others held back during its last check instead of
    // saying it (why the check could not even be tried). The monitor thread says it when it
    // applies the check's result, so it comes in list order like the rest.
    virtual std::vector<std::function<void()>> takeHeldReports() { return {}; }
    // Why the last check of this set failed, in a few words ("Connection refused", "Timed
    // out"), then forgotten; empty when it did not fail or the probe cannot tell.
    virtual std::string takeFailureReason() { return {}; }
    // The earliest expiry of the certificates the server of the last check sent, then
    // forgotten; nothing when it made no TLS handshake.
    virtual std::optional<std::time_t> takeCertificateExpiry() { return std::nullopt; }
};

// The log and the actions of a transition.
class HostAlerts {
  public:
    virtual ~HostAlerts() = default;
    virtual void logEvent(std::string text, std::time_t time) = 0;
    virtual void runUpActions(const ServerItem& item, std::time_t now) = 0;
    virtual void runDownActions(const ServerItem& item, std::time_t now) = 0;
    // Ends a waiting action (a mail dialogue) at once; safe from any thread.
    virtual void cancel() {}
};

class AlertGate;
class ProbePool;

// Everything one monitor thread works with; all of it outlives the thread.
struct MonitorContext {
    ServerDoc& doc;
    LiveConfig& cfg;
    MonitorFlags& flags;
    // The probes of the monitor thread itself, when it checks one host after another.
    HostProbes& probes;
    HostAlerts& alerts;
    MonitorView& view;
    Clock& clock;
    // The probe sets for several checks at once; without them the checks run one after
    // another whatever the settings say.
    ProbePool* pool = nullptr;
    // Holds the actions of muted, flapping and suppressed hosts; without it every action runs.
    AlertGate* gate = nullptr;
};

// The body of the monitor thread; returns 0 when monitoring was switched off.
int MonitorThreadProc(MonitorContext& ctx);

// Checks host i of the document once, with its events and row updates. Returns false when
// the host ran no probe (no such index, or a TCP/IP host of an unknown sub-type), when the
// close of the window cut the probe short, which leaves the host as it was, or when the host
// was removed while it was checked.
bool checkHost(MonitorContext& ctx, std::size_t index);

// Checks every host of the document once, as many at once as the settings allow (1: one
// after another with the monitor thread's own probes), and applies the results in list
// order. The close of the window ends it before the next host.
void runCycle(MonitorContext& ctx);

// Start, Stop and Check Now as the window calls them. At most one monitor thread runs.
class Monitor {
  public:
    explicit Monitor(MonitorContext ctx) : ctx_(ctx) {}
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Switches monitoring on. A thread still finishing its cycle after a Stop simply
    // carries on; one that has decided to end is joined first, so two threads never check
    // the same list.
    void start();
    // Switches monitoring off; the thread ends by itself after the current cycle.
    void stop();
    // Start when off, Stop when on; returns whether monitoring is now on.
    bool toggle();
    bool isRunning() const { return ctx_.flags.running; }
    void checkNow() { ctx_.flags.checkNow = true; }

    // Waits for the thread to end by itself, testing every 100 ms, at most `tries` times.
    // Returns whether it has ended.
    bool waitDone(int tries = 21);
    // Makes the thread leave at once: it stops before the next host and every wait of a
    // probe (in every probe set) or a mail is cancelled until the thread has ended; then
    // joins it.
    void cancelAndJoin();

  private:
    MonitorContext ctx_;
    std::thread thread_;
};
