// The monitor dialog's cost to the window: the longest time the
// user-interface thread is kept from its events while a 128-zone unit is
// monitored at 115200 baud at interval 0 (as fast as the line allows), with
// the default 8 zones charted, measured by a 1 ms heartbeat timer on that
// thread as the other window benchmarks do. On the offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
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

}  // namespace

// Argument: how long the dialog runs, in ms.
BENCHMARK(BM_MonitorLongestUiBlock)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
