// Sequential TCP checks per second against a listener on 127.0.0.1 and one on ::1, for connect
// only and for connect and receive, and the processor time a check spends waiting on a silent
// peer.
//
// `tcp_bench --serve` instead serves greetings on a free port of 127.0.0.1 and one of ::1 (printed
// on the first two lines) until its standard input closes, as the peers for the plugin runs of
// bench/tcp_peer.sh.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/LiveConfig.h"
#include "probes/TcpProbe.h"

namespace {

constexpr const char kGreeting[] = "220 vardo ready\r\n";

// One thread that accepts every connection, sends the greeting (or nothing) and closes it
// at once; or, when silent, keeps every connection open without a word.
class BenchServer {
  public:
    enum class Mode { Greeting, CloseAtOnce, Silent, TwoBytesThenClose };

    // Listens on 127.0.0.1, or on ::1 with ipv6.
    explicit BenchServer(Mode mode, bool ipv6 = false) : mode_(mode) {
        listen_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 addr6{};
        addr6.sin6_family = AF_INET6;
        addr6.sin6_addr = in6addr_loopback;
        sockaddr* bound = ipv6 ? reinterpret_cast<sockaddr*>(&addr6) : reinterpret_cast<sockaddr*>(&addr);
        socklen_t len = ipv6 ? sizeof addr6 : sizeof addr;
        if (::bind(listen_, bound, len) != 0 || ::listen(listen_, 1024) != 0 ||
            ::getsockname(listen_, bound, &len) != 0) {
            std::perror("bench server");
            std::exit(1);
        }
        port_ = ntohs(ipv6 ? addr6.sin6_port : addr.sin_port);
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~BenchServer() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_, &one, sizeof one);
        thread_.join();
        for (int fd : held_) {
            ::close(fd);
        }
        ::close(listen_);
        ::close(stop_);
    }
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    std::uint16_t port() const { return port_; }

  private:
    void run() {
        pollfd fds[2] = {{listen_, POLLIN, 0}, {stop_, POLLIN, 0}};
        while (::poll(fds, 2, -1) >= 0 && fds[1].revents == 0) {
            for (;;) {
                const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) {
                    break;
                }
                if (mode_ == Mode::Silent) {
                    held_.push_back(fd);
                    continue;
                }
                if (mode_ == Mode::Greeting) {
                    [[maybe_unused]] const ssize_t n =
                        ::send(fd, kGreeting, sizeof kGreeting - 1, MSG_NOSIGNAL);
                } else if (mode_ == Mode::TwoBytesThenClose) {
                    [[maybe_unused]] const ssize_t n = ::send(fd, kGreeting, 2, MSG_NOSIGNAL);
                }
                ::close(fd);
            }
        }
    }

    Mode mode_;
    int listen_ = -1;
    int stop_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> held_;
    std::thread thread_;
};

struct ProbeRig {
    explicit ProbeRig(std::int32_t connectTimeout) {
        cfg.update([connectTimeout](ServerCfg& c) { c.connectTimeout = connectTimeout; });
    }
    LiveConfig cfg;
    std::atomic<std::int32_t> connectState{0};
    TTcpSocket sock;
    TcpProbe probe{sock, cfg, connectState};
};

bool isIpv6(const char* address) {
    return std::strchr(address, ':') != nullptr;
}

void BM_TcpConnectOnly(benchmark::State& state, const char* address) {
    BenchServer server(BenchServer::Mode::CloseAtOnce, isIpv6(address));
    ProbeRig rig(5000);
    for (auto _ : state) {
        if (!rig.probe.CheckTcpConnect(address, server.port())) {
            state.SkipWithError("a check failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_TcpConnectOnly, ipv4, "127.0.0.1")->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_TcpConnectOnly, ipv6, "::1")->UseRealTime()->MinTime(2.0);

void BM_TcpConnectReceive(benchmark::State& state, const char* address) {
    BenchServer server(BenchServer::Mode::Greeting, isIpv6(address));
    ProbeRig rig(5000);
    ServerItem item;
    item.address = address;
    item.tcpPort = server.port();
    item.tcpType = TcpConnectReceive;
    item.recvText = "220";
    for (auto _ : state) {
        if (!rig.probe.CheckTcpReceive(item)) {
            state.SkipWithError("a check failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_TcpConnectReceive, ipv4, "127.0.0.1")->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_TcpConnectReceive, ipv6, "::1")->UseRealTime()->MinTime(2.0);

double cpuSeconds() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// One check that waits a whole second for a greeting that never comes: the processor time
// of the process over that wait, in per cent of one core.
void BM_TcpSilentPeerWait(benchmark::State& state) {
    BenchServer server(BenchServer::Mode::Silent);
    ProbeRig rig(1000);
    ServerItem item;
    item.address = "127.0.0.1";
    item.tcpPort = server.port();
    item.recvText = "220";
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (rig.probe.CheckTcpReceive(item)) {
            state.SkipWithError("a silent peer passed the check");
            break;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuBefore;
    }
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["wait_ms"] =
        1000.0 * wall / static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
}
BENCHMARK(BM_TcpSilentPeerWait)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A read of 3 bytes from a peer that sent 2 and closed waits, without turning, until it is
// cancelled (here after one second, from another thread).
void BM_TcpShortClosedReplyWait(benchmark::State& state) {
    BenchServer server(BenchServer::Mode::TwoBytesThenClose);
    TTcpSocket sock;
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        sock.Host = "127.0.0.1";
        sock.Port = server.port();
        sock.Connect();
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::thread canceller([&sock] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            sock.Cancel();
        });
        try {
            sock.Read(3);
            state.SkipWithError("the read returned");
        } catch (const ESocketAbort&) {
        }
        canceller.join();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuBefore;
        sock.Disconnect();
    }
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
}
BENCHMARK(BM_TcpShortClosedReplyWait)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

int serve() {
    BenchServer server(BenchServer::Mode::Greeting);
    BenchServer server6(BenchServer::Mode::Greeting, true);
    std::printf("%u\n%u\n", static_cast<unsigned>(server.port()), static_cast<unsigned>(server6.port()));
    std::fflush(stdout);
    char buf[64];
    while (::read(STDIN_FILENO, buf, sizeof buf) > 0) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) {
        return serve();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
