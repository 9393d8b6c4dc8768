// HTTPS web checks per second against a local server, on one kept connection and on a new
// connection for every check, with the processor time of each (Google Benchmark's CPU time per
// iteration is this process's alone, so the server's share is not in it).
//
// The server and its authority come from the environment: WEB_BENCH_URL (an https:// URL) and
// WEB_BENCH_CA (the PEM file that trusts its certificate). bench/web_peer.sh sets both up and
// runs check_http beside it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "probes/WebCheck.h"

namespace {

ServerItem webHost() {
    ServerItem item;
    item.tcpType = TcpHttpRequest;
    const char* url = std::getenv("WEB_BENCH_URL");
    item.address = url != nullptr ? url : "";
    return item;
}

HostExtras trust() {
    const char* ca = std::getenv("WEB_BENCH_CA");
    return ca != nullptr ? HostExtras{{"tls.ca_file", ca}} : HostExtras{};
}

void check(benchmark::State& state, WebCheck& web, const ServerItem& item, const HostExtras& extras) {
    const WebCheckResult result = web.run(item, extras, std::chrono::milliseconds(5000), std::time(nullptr));
    if (!result.ok) {
        state.SkipWithError(("the check failed: " + result.reason).c_str());
    }
}

void BM_HttpsCheckKeptConnection(benchmark::State& state) {
    const ServerItem item = webHost();
    const HostExtras extras = trust();
    WebCheck web;
    for (auto _ : state) {
        check(state, web, item, extras);
    }
    state.SetItemsProcessed(state.iterations());
}

// The server closes each connection after its answer, so every check connects and shakes
// hands anew, as a monitor does that checks many servers in turn.
void BM_HttpsCheckNewConnection(benchmark::State& state) {
    const ServerItem item = webHost();
    HostExtras extras = trust();
    extras["http.headers"] = "Connection: close";
    WebCheck web;
    for (auto _ : state) {
        check(state, web, item, extras);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_HttpsCheckKeptConnection)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_HttpsCheckNewConnection)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
