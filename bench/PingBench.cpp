// Echo round trips to 127.0.0.1 and to ::1 through the ping component, a fixed number of each
// (VARDO_PING_COUNT, default 1000), so bench/ping_peer.sh can set them beside the same number
// of fping runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "probes/Ping.h"

namespace {

void pingLoopback(benchmark::State& state, const char* address) {
    TIcmpEcho echo;
    if (!echo.InitError().empty()) {
        state.SkipWithError(echo.InitErrorDetail().c_str());
        return;
    }
    echo.SetAddress(address);
    echo.Timeout = 1000;
    for (auto _ : state) {
        if (echo.Ping() != 1) {
            state.SkipWithError(("no reply: " + echo.GetErrorString()).c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    const IcmpSocket::Kind kind = echo.Target().isIpv6() ? echo.SocketKind6() : echo.SocketKind();
    state.SetLabel(kind == IcmpSocket::Kind::Datagram ? "datagram socket" : "raw socket");
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("VARDO_PING_COUNT");
    const long count = env != nullptr ? std::atol(env) : 1000;
    for (const char* address : {"127.0.0.1", "::1"}) {
        benchmark::RegisterBenchmark(address[0] == ':' ? "PingLoopback6" : "PingLoopback", pingLoopback,
                                     address)
            ->Iterations(count > 0 ? count : 1000)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
