// The metrics of 10,000 hosts. Scrape: a GET /metrics over loopback, plain (/0) and
// compressed (/1), against rendering the same exposition in memory (its peer). Cycle: one
// monitor cycle over the hosts with probes that wait like a fast network (0.1 ms each) while
// a client scrapes in a loop as Prometheus does (asking for gzip), against the same cycle with
// nobody scraping, the two run in turns in the same process; the counter "slowdown" is how
// much longer the scraped cycles took. The same pair with probes that
// answer at once shows the worst case, where the cycle competes for the processor too.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bench/BenchFakes.h"
#include "core/Monitor.h"
#include "metrics/Exposition.h"
#include "metrics/MetricsExporter.h"

namespace {

constexpr int kHosts = 10000;

ServerDoc& sampleDoc() {
    static ServerDoc doc = [] {
        ServerDoc d;
        std::vector<ServerItem> items;
        for (int i = 0; i < kHosts; ++i) {
            ServerItem it;
            it.name = "host-" + std::to_string(i) + " (rack " + std::to_string(i % 40) + ")";
            it.address = "10.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
            it.type = static_cast<std::int8_t>(i % 2);
            it.tcpPort = 443;
            it.failuresAllowed = 1;
            items.push_back(it);
        }
        d.appendAll(std::move(items));
        return d;
    }();
    return doc;
}

class Probes : public HostProbes {
  public:
    explicit Probes(std::chrono::microseconds wait) : wait_(wait) {}
    bool checkTcpConnect(const std::string&, std::int32_t) override { return result(); }
    bool checkTcpReceive(const ServerItem&) override { return result(); }
    bool checkTcpSendReceive(const ServerItem&) override { return result(); }
    void setPingAddress(const std::string&) override {}
    int ping() override { return result() ? 1 : 0; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}

  private:
    bool result() {
        if (wait_.count() > 0) {
            std::this_thread::sleep_for(wait_);
        }
        // Alternating results walk the hosts through failures, downs and ups.
        return (++n_ % 3) != 0;
    }
    std::chrono::microseconds wait_;
    unsigned n_ = 0;
};

// A GET /metrics on a fresh connection, read to the end; the bytes of the answer. With gzip
// the request asks for a compressed answer, as Prometheus does.
std::size_t scrape(std::uint16_t port, bool gzip) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::size_t total = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = std::string("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
                                    (gzip ? "Accept-Encoding: gzip\r\n\r\n" : "\r\n");
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        static thread_local char buffer[1 << 16];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            total += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return total;
}

struct Monitored {
    ServerDoc& doc = sampleDoc();
    LiveConfig cfg;
    MonitorFlags flags;
    NoAlerts alerts;
    SystemClock clock;
    MetricsExporter metrics{doc, clock, flags.running};

    Monitored() {
        if (!metrics.start(*parseListenAddress("127.0.0.1:0"))) {
            std::abort();
        }
    }
    void cycle(HostProbes& probes) {
        MonitorContext ctx{doc, cfg, flags, probes, alerts, metrics.view(), clock};
        metrics.view().cycleStarted();
        for (std::size_t i = 0; i < doc.count(); ++i) {
            checkHost(ctx, i);
        }
        metrics.view().refreshHostRows();
    }
};

void BM_Scrape(benchmark::State& state) {
    Monitored m;
    Probes probes{std::chrono::microseconds(0)};
    m.cycle(probes);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = scrape(m.metrics.address().port, state.range(0) != 0);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_Scrape)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the same exposition rendered in memory, with no HTTP and no socket.
void BM_RenderInMemory(benchmark::State& state) {
    Monitored m;
    Probes probes{std::chrono::microseconds(0)};
    m.cycle(probes);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = renderExposition(m.metrics.view().snapshot(), true).size();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_RenderInMemory)->Unit(benchmark::kMillisecond);

// Cycles with and without a client scraping in a loop, in turns; the time reported is that of
// the scraped cycles.
void BM_CycleWhileScraping(benchmark::State& state) {
    // Sleeps as short as they are asked for, so the waits of the probes stay even.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    Monitored m;
    Probes probes{std::chrono::microseconds(state.range(0))};
    using Clock = std::chrono::steady_clock;
    Clock::duration quiet{};
    Clock::duration scraped{};
    long long scrapes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto started = Clock::now();
        m.cycle(probes);
        quiet += Clock::now() - started;
        std::atomic<bool> stop{false};
        std::atomic<long long> done{0};
        std::thread client([&] {
            while (!stop) {
                scrape(m.metrics.address().port, true);
                ++done;
            }
        });
        state.ResumeTiming();
        started = Clock::now();
        m.cycle(probes);
        scraped += Clock::now() - started;
        state.PauseTiming();
        stop = true;
        client.join();
        scrapes += done;
        state.ResumeTiming();
    }
    state.counters["slowdown"] =
        std::chrono::duration<double>(scraped) / std::chrono::duration<double>(quiet) - 1;
    state.counters["scrapes_per_cycle"] =
        static_cast<double>(scrapes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CycleWhileScraping)
    ->Arg(100)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
