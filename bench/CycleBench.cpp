// One monitor cycle over 1,000 TCP hosts on 127.42.0.0/16 with the real probes, 100 of them
// silent (a listener whose queue is full drops every further SYN, so the connect runs into
// the 1,000 ms time-out), at 1, 16, 64 and 256 checks at once. Each run reports the cycle's
// time and the processor time per check; the summary compares them with one at a time.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchFakes.h"
#include "app/SystemProbes.h"
#include "core/Monitor.h"
#include "core/ProbePool.h"
#include "platform/OpenFileLimit.h"

namespace {

constexpr int kHosts = 1000;
constexpr int kSilentEvery = 10;  // every tenth host is silent
constexpr std::int32_t kTimeoutMs = 1000;

std::string addressOf(int i) {
    return "127.42." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The hosts' peers: one listener per address. A live one is never accepted from during a
// cycle (the kernel completes the handshake by itself); a silent one has a queue of one
// and a connection filling it.
class Peers {
  public:
    Peers() {
        for (int i = 0; i < kHosts; ++i) {
            const bool silent = i % kSilentEvery == kSilentEvery - 1;
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            ::inet_pton(AF_INET, addressOf(i).c_str(), &addr.sin_addr);
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            socklen_t len = sizeof addr;
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
                ::listen(fd, silent ? 0 : 64) != 0 ||
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
                fail("listener");
            }
            fds_.push_back(fd);
            ServerItem host;
            host.name = (silent ? "silent-" : "live-") + std::to_string(i);
            host.address = addressOf(i);
            host.tcpPort = ntohs(addr.sin_port);
            hosts_.push_back(host);
            if (silent) {
                const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (filler < 0 || ::connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                    fail("filler");
                }
                fds_.push_back(filler);
            } else {
                live_.push_back(fd);
            }
        }
    }
    ~Peers() {
        for (int fd : fds_) {
            ::close(fd);
        }
    }
    Peers(const Peers&) = delete;
    Peers& operator=(const Peers&) = delete;

    const std::vector<ServerItem>& hosts() const { return hosts_; }

    // Takes the connections of the last cycle off the live listeners' queues.
    void drain() {
        for (int fd : live_) {
            for (int c; (c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ::close(c);
            }
        }
    }

  private:
    std::vector<int> fds_;
    std::vector<int> live_;
    std::vector<ServerItem> hosts_;
};

double cpuSeconds() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double cycleSeconds = 0;
    double cpuPerCheckUs = 0;
};
std::map<std::int64_t, Figures> figures;

void BM_CycleOverTcpHosts(benchmark::State& state) {
    static Peers peers;
    ServerDoc doc;
    doc.appendAll(std::vector<ServerItem>(peers.hosts()));
    LiveConfig cfg;
    const auto atOnce = static_cast<std::int32_t>(state.range(0));
    cfg.update([](ServerCfg& c) { c.connectTimeout = kTimeoutMs; });
    cfg.updateExtra([atOnce](Settings& s) { s.monitor.checksAtOnce = atOnce; });
    MonitorFlags flags;
    SystemProbes probes(cfg, {});
    ProbePool pool([&cfg] { return std::make_unique<SystemProbes>(cfg, SystemProbes::Report{}); });
    if (pool.reserve(static_cast<std::size_t>(atOnce)) < static_cast<std::size_t>(atOnce)) {
        state.SkipWithError("not enough probe sets (open file limit?)");
        return;
    }
    NoAlerts alerts;
    NoView view;
    SystemClock clock;
    // A first, untimed cycle over the live hosts alone: the measured cycles are the ones a
    // running monitor repeats, with every worker's stack and socket already in use.
    ServerDoc warmUp;
    for (const ServerItem& host : peers.hosts()) {
        if (!host.name.starts_with("silent")) {
            warmUp.append(host);
        }
    }
    MonitorContext warmCtx{warmUp, cfg, flags, probes, alerts, view, clock, &pool};
    runCycle(warmCtx);
    peers.drain();
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock, &pool};

    double wall = 0;
    double cpu = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        runCycle(ctx);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuBefore;
        state.PauseTiming();
        peers.drain();
        state.ResumeTiming();
    }
    // Every host was checked, and only the silent ones failed.
    for (const ServerItem& host : doc.items()) {
        const bool silent = host.name.starts_with("silent");
        if (host.goodCount + host.badCount != state.iterations() || (host.badCount > 0) != silent) {
            state.SkipWithError(("wrong counts for " + host.name).c_str());
            return;
        }
    }
    const double cycles = static_cast<double>(state.iterations());
    Figures& f = figures[atOnce];
    f.cycleSeconds = wall / cycles;
    f.cpuPerCheckUs = 1e6 * cpu / (cycles * kHosts);
    state.counters["cycle_s"] = f.cycleSeconds;
    state.counters["cpu_us_per_check"] = f.cpuPerCheckUs;
}
BENCHMARK(BM_CycleOverTcpHosts)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CycleOverTcpHosts)
    ->Arg(16)
    ->Arg(64)
    ->Arg(256)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    raiseOpenFileLimit();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (const auto one = figures.find(1); one != figures.end()) {
        std::printf("\n%-16s %12s %10s %18s\n", "checks at once", "cycle (s)", "shorter",
                    "CPU per check (us)");
        for (const auto& [n, f] : figures) {
            std::printf("%-16lld %12.2f %9.1fx %18.1f\n", static_cast<long long>(n), f.cycleSeconds,
                        one->second.cycleSeconds / f.cycleSeconds, f.cpuPerCheckUs);
        }
    }
    return 0;
}
