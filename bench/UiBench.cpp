// The grids with ten thousand hosts: how long refreshAllRows takes, against the bare work
// of building the rows without any widget; and how long the window's event loop waits for
// its turn while a monitor cycle with instant checks runs over all of them, against the
// same wait with the monitor stopped. Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "bench/BenchFakes.h"
#include "app/DialogServices.h"
#include "core/Presentation.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtMonitorView.h"

namespace {

constexpr int kHosts = 10000;

class InstantProbes : public HostProbes {
  public:
    bool checkTcpConnect(const std::string&, std::int32_t port) override { return port % 3 != 0; }
    bool checkTcpReceive(const ServerItem&) override { return true; }
    bool checkTcpSendReceive(const ServerItem&) override { return true; }
    void setPingAddress(const std::string&) override {}
    int ping() override { return 1; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}
};

class NoServices : public DialogServices {
  public:
    void playSound(const std::string&) override {}
    void runShellCommand(const std::string&) override {}
    ServiceListing listServices(const std::string&) override { return {}; }
};

struct Window {
    QTemporaryDir dir;
    NoServices services;
    std::unique_ptr<TForm1> form;

    Window() {
        MessageBox::setTestMode(true);
        auto factory = [](const ComponentContext&) {
            AppComponents parts;
            parts.probes = std::make_unique<InstantProbes>();
            parts.alerts = std::make_unique<NoAlerts>();
            parts.clock = std::make_unique<SystemClock>();
            return parts;
        };
        form = std::make_unique<TForm1>(dir.filePath(QStringLiteral("vardo.cfg")).toStdString(), factory,
                                        services);
        for (int i = 0; i < kHosts; ++i) {
            ServerItem it;
            it.name = "host " + std::to_string(i);
            it.address = "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
            it.tcpPort = i;
            it.failuresAllowed = i % 4;
            form->app().document().append(it);
        }
        form->show();
        while (!form->firstShowDone()) {
            QApplication::processEvents();
        }
    }
    ~Window() {
        form->app().document().modified = false;
        form->close();
    }
};

void BM_RefreshAllRows(benchmark::State& state) {
    Window w;
    for (auto _ : state) {
        w.form->monitorView().refreshAllRows();
        QApplication::processEvents();  // includes the repaint of the visible rows
    }
    state.counters["hosts"] = kHosts;
}
BENCHMARK(BM_RefreshAllRows)->Unit(benchmark::kMillisecond);

// The peer: the rows as plain data, without models or views.
void BM_BuildRowsWithoutWidgets(benchmark::State& state) {
    Window w;
    for (auto _ : state) {
        const std::vector<ServerItem> items = w.form->app().document().items();
        std::vector<ResultRow> results;
        std::vector<HostRow> hosts;
        results.reserve(items.size());
        hosts.reserve(items.size());
        for (const ServerItem& it : items) {
            results.push_back(resultRowFor(it));
            hosts.push_back(hostRowFor(it));
        }
        benchmark::DoNotOptimize(results.data());
        benchmark::DoNotOptimize(hosts.data());
    }
}
BENCHMARK(BM_BuildRowsWithoutWidgets)->Unit(benchmark::kMillisecond);

// Each iteration: how long a zero-delay timer waits for the event loop. With range(0) = 1
// the monitor checks all hosts back to back (interval 0) meanwhile.
void BM_EventLoopWait(benchmark::State& state) {
    Window w;
    const bool monitoring = state.range(0) == 1;
    w.form->app().updateSettings([](ServerCfg& c) { c.interval = 0; });
    if (monitoring) {
        w.form->app().toggleMonitor();
    }
    double worstMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        bool fired = false;
        timer.start();
        QTimer::singleShot(0, [&] { fired = true; });
        while (!fired) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        worstMs = std::max(worstMs, ms);
        state.SetIterationTime(ms / 1000.0);
    }
    const std::size_t batches = w.form->monitorView().batches();
    if (monitoring) {
        w.form->app().toggleMonitor();
        w.form->app().flags().abort = true;
    }
    state.counters["worst_ms"] = worstMs;
    state.counters["batches"] = static_cast<double>(batches);
}
BENCHMARK(BM_EventLoopWait)->Arg(0)->Arg(1)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
