// What the bus trace costs: the whole receive job of the 120-zone demo unit,
// once without and once with the trace, in turns on the same line, so that
// drift of the machine falls on both alike. on_over_off is the ratio of the
// two times; the trace is meant to stay within 1 % at a real baud rate.
// The unpaced variant (a pseudo-terminal at full speed) shows the cost of the
// trace itself, with no wire time to hide it.

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <unistd.h>

#include "BenchUnits.h"
#include "unit/BusTrace.h"
#include "unit/Unit.h"
#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"
#include "workflows/Jobs.h"

namespace {

using bench::Quiet;

void ReceiveWithAndWithoutTrace(benchmark::State& state, int baud)
{
    std::vector<GlobalParamDef> catalogue;
    const unitsim::SimUnitConfig config = bench::DemoUnit120(catalogue);

    unitsim::SimBus bus;
    bus.AddUnit(config);
    unitsim::PtyServer server(bus);
    if (!server.Start(baud)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CUnit unit;
    unit.GetComPort().SetDeviceOverride(server.SlavePath());
    unit.SetInterface(1, baud > 0 ? baud : 19200);
    unit.SetLineSettings(0, 8, 0, 200);
    unit.SetGlobalParams(catalogue);
    unit.SetAddress(1);
    unit.SetOffline(false);

    const std::string tracePath =
        (std::filesystem::temp_directory_path() / ("vorlent-bench-trace-" + std::to_string(getpid()))).string();
    CBusTrace trace;
    std::string error;
    if (!trace.Open(tracePath, "bench", error)) {
        state.SkipWithError(error.c_str());
        return;
    }

    // One job as the programs run it: open, receive, close (the flush).
    auto job = [&](bool bTraced) {
        SetActiveBusTrace(bTraced ? &trace : nullptr);
        const auto start = std::chrono::steady_clock::now();
        bool bOk = unit.OpenPort();
        Quiet quiet;
        bOk = bOk && RunReceive(unit, quiet) == JobResult::Done;
        unit.ClosePort();
        SetActiveBusTrace(nullptr);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return bOk ? took.count() : -1.0;
    };
    job(false);  // the value width and counts, learned outside the measurement

    double off = 0, on = 0;
    for (auto _ : state) {
        const double a = job(false);
        const double b = job(true);
        if (a < 0 || b < 0) {
            state.SkipWithError("the receive failed");
            break;
        }
        off += a;
        on += b;
        state.SetIterationTime(a + b);
    }
    trace.Close();
    std::filesystem::remove(tracePath);
    const double n = static_cast<double>(state.iterations());
    state.counters["off_s"] = off / n;
    state.counters["on_s"] = on / n;
    state.counters["on_over_off"] = off > 0 ? on / off : 0;
}

void BM_ReceiveTrace19200(benchmark::State& state) { ReceiveWithAndWithoutTrace(state, 19200); }
void BM_ReceiveTraceUnpaced(benchmark::State& state) { ReceiveWithAndWithoutTrace(state, 0); }

}  // namespace

BENCHMARK(BM_ReceiveTrace19200)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveTraceUnpaced)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
