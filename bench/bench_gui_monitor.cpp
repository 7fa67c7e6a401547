// The monitor dialog's cost to the window: the longest time the
// user-interface thread is kept from its events while a 128-zone unit is
// monitored at 115200 baud at interval 0 (as fast as the line allows), with
// the default 8 zones charted, measured by a 1 ms heartbeat timer on that
// thread as the other window benchmarks do. And one refresh of the overview
// while 30 units are watched, 25 answering and 5 silent, their counters
// changing between refreshes. On the offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>

#include "BenchGui.h"
#include "monitor/qt/DlgMonitor.h"
#include "platform/ProgramDir.h"
#include "platform/qt/ModalRun.h"
#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"

namespace {

void BM_MonitorLongestUiBlock(benchmark::State& state)
{
    bench::TempFolder dir;
    platform::SetProgramDirectory(dir.path);
    bench::App("bench_gui_monitor");

    unitsim::SimBus bus;
    unitsim::SimUnitConfig config;
    config.address = 4;
    config.type = "MZR 128";
    config.zones = 128;
    config.valueWidth = 5;
    config.heatSeconds = 60;
    config.heatNoise = 2;
    bus.AddUnit(config);
    unitsim::PtyServer server(bus);
    if (!server.Start(115200)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    MonitorLine line;
    line.nBaudrate = 115200;
    line.strDevice = server.SlavePath();
    MonitorUnit unit;
    unit.nAddress = 4;
    unit.nZoneCount = 128;
    unit.nValueWidth = 5;

    const auto runFor = std::chrono::milliseconds(state.range(0));
    using Clock = std::chrono::steady_clock;
    double longestMs = 0;
    long long cycles = 0;
    for (auto _ : state) {
        CDlgMonitor dialog(line, unit, {}, config.type);
        dialog.IntervalBox().setCurrentIndex(dialog.IntervalBox().findData(0));
        bench::Heartbeat heartbeat;
        SetModalHook([&](QDialog& d) {
            // The dialog's start (its first show) is not what is measured.
            heartbeat.Start();
            QTimer::singleShot(runFor, &d, [&d] { d.reject(); });
        });
        const Clock::time_point start = Clock::now();
        RunModal(dialog);
        heartbeat.Stop();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        longestMs = std::max(longestMs, heartbeat.LongestMs());
        cycles += dialog.Job() ? dialog.Job()->Cycles() : 0;
    }
    SetModalHook(nullptr);
    state.counters["longest_block_ms"] = longestMs;
    state.counters["cycles"] = static_cast<double>(cycles) / static_cast<double>(state.iterations());
    platform::SetProgramDirectory("");
}

// The overview's refresh timer's work for 30 watched units: each run one
// RefreshOverview() while the job polls on, so that counters and states
// change from one refresh to the next as they do on screen.
void BM_OverviewRefresh30Units(benchmark::State& state)
{
    bench::TempFolder dir;
    platform::SetProgramDirectory(dir.path);
    bench::App("bench_gui_monitor");

    unitsim::SimBus bus;
    for (int address = 1; address <= 25; ++address) {
        unitsim::SimUnitConfig config;
        config.address = address;
        config.type = "MZR 4";
        config.zones = 4;
        bus.AddUnit(config);
    }
    unitsim::PtyServer server(bus);
    if (!server.Start(115200)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    MonitorLine line;
    line.nBaudrate = 115200;
    line.nTimeout = 5;
    line.strDevice = server.SlavePath();
    std::vector<MonitorUnit> others;
    for (int address = 2; address <= 30; ++address)
        others.push_back(MonitorUnit{static_cast<int16_t>(address), address <= 25 ? 4 : 0,
                                     static_cast<int16_t>(address <= 25 ? 4 : 0)});
    CDlgMonitor dialog(line, MonitorUnit{1, 4, 4}, others, "MZR 4");
    dialog.IntervalBox().setCurrentIndex(dialog.IntervalBox().findData(0));
    dialog.OnWatchAllFoundUnits();

    using Clock = std::chrono::steady_clock;
    double totalMs = 0;
    double longestMs = 0;
    long long runs = 0;
    // Shown without a modal run: the job starts, and the benchmark's loop
    // turns the event loop between refreshes.
    dialog.show();
    auto pump = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    pump(1000);  // a second of polling, so that every row has counters
    for (auto _ : state) {
        pump(3);
        const Clock::time_point start = Clock::now();
        dialog.RefreshOverview();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        totalMs += seconds * 1000;
        longestMs = std::max(longestMs, seconds * 1000);
        ++runs;
    }
    dialog.reject();
    for (int i = 0; i < 500 && dialog.IsJobRunning(); ++i)
        pump(10);
    state.counters["rows"] = dialog.Overview().rowCount();
    state.counters["mean_ms"] = runs ? totalMs / static_cast<double>(runs) : 0;
    state.counters["longest_ms"] = longestMs;
    platform::SetProgramDirectory("");
}

}  // namespace

BENCHMARK(BM_OverviewRefresh30Units)->Iterations(500)->UseManualTime()->Unit(benchmark::kMillisecond);

// Argument: how long the dialog runs, in ms.
BENCHMARK(BM_MonitorLongestUiBlock)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
