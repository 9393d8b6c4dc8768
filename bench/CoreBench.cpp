// Save and load of a 100,000-host document, and one monitor cycle over 100,000 hosts with
// instant probes and a view that does nothing. Each file benchmark reports bytes per
// second; the cycle reports the time per host, next to a plain copy of the list as its peer.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "bench/BenchFakes.h"
#include "core/Monitor.h"
#include "storage/DocumentFile.h"

namespace {

constexpr int kHosts = 100000;

ServerItem sampleHost(int i) {
    ServerItem it;
    it.name = "host-" + std::to_string(i);
    it.address = "10.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
    it.description = "Rack 4, row " + std::to_string(i % 40) +
                     "\r\nOwner: network team, ext. 4411\r\n"
                     "Escalate to the on-call engineer after two failures.";
    it.tcpPort = 443;
    it.tcpType = static_cast<std::int8_t>(i % 3);
    it.recvText = "HTTP/1.1";
    it.sendText = "HEAD / HTTP/1.0\r\n\r\n";
    it.notify.mailList = "ops@example.org,oncall@example.org";
    it.notify.upMsg = "The server %s is back up at %t";
    it.events.downCmdLine = "/usr/local/bin/page-oncall --host %s";
    it.events.downSoundFile = "/usr/share/sounds/alarm.wav";
    return it;
}

ServerDoc& sampleDoc() {
    static ServerDoc doc = [] {
        ServerDoc d;
        std::vector<ServerItem> items;
        for (int i = 0; i < kHosts; ++i) {
            items.push_back(sampleHost(i));
        }
        d.appendAll(std::move(items));
        return d;
    }();
    return doc;
}

std::string benchFile() {
    return (std::filesystem::temp_directory_path() / "vardo-bench.vdm").string();
}

void BM_SaveDocument(benchmark::State& state) {
    ServerDoc& doc = sampleDoc();
    doc.fileName = benchFile();
    for (auto _ : state) {
        if (!doc.save()) {
            state.SkipWithError(doc.errorText.c_str());
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(doc.fileName)));
}
BENCHMARK(BM_SaveDocument)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodeDocument(benchmark::State& state) {
    const std::vector<ServerItem> items = sampleDoc().items();
    std::size_t size = 0;
    for (auto _ : state) {
        size = encodeDocument(items).size();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_EncodeDocument)->Unit(benchmark::kMillisecond);

void BM_LoadDocument(benchmark::State& state) {
    ServerDoc& doc = sampleDoc();
    doc.fileName = benchFile();
    doc.save();
    for (auto _ : state) {
        ServerDoc loaded;
        if (!loaded.load(doc.fileName)) {
            state.SkipWithError(loaded.errorText.c_str());
        }
        benchmark::DoNotOptimize(loaded.count());
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(doc.fileName)));
}
BENCHMARK(BM_LoadDocument)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeDocument(benchmark::State& state) {
    const std::string bytes = encodeDocument(sampleDoc().items());
    for (auto _ : state) {
        std::vector<ServerItem> items;
        std::string error;
        decodeDocument(bytes, items, error);
        benchmark::DoNotOptimize(items.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeDocument)->Unit(benchmark::kMillisecond);

void BM_MonitorCycle(benchmark::State& state) {
    ServerDoc& doc = sampleDoc();
    LiveConfig cfg;
    MonitorFlags flags;
    InstantProbes probes;
    NoAlerts alerts;
    NoView view;
    SystemClock clock;
    MonitorContext ctx{doc, cfg, flags, probes, alerts, view, clock};
    for (auto _ : state) {
        for (std::size_t i = 0; i < doc.count(); ++i) {
            checkHost(ctx, i);
        }
    }
    state.SetItemsProcessed(state.iterations() * kHosts);
}
BENCHMARK(BM_MonitorCycle)->Unit(benchmark::kMillisecond);

// The peer: copying every host once, the least a cycle that snapshots each host must do.
void BM_CopyEveryHost(benchmark::State& state) {
    ServerDoc& doc = sampleDoc();
    for (auto _ : state) {
        for (std::size_t i = 0; i < doc.count(); ++i) {
            benchmark::DoNotOptimize(doc.at(i));
        }
    }
    state.SetItemsProcessed(state.iterations() * kHosts);
}
BENCHMARK(BM_CopyEveryHost)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
