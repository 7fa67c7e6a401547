// How long one read of an answer waits on a silent line. The bound is the
// time-out plus 20 ms per byte; a read that waits much longer slows every
// scan of an empty bus address by the same amount.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "unit/ComPort.h"

namespace {

void BM_SilentLineRead(benchmark::State& state)
{
    const int16_t timeoutMs = static_cast<int16_t>(state.range(0));

    // The far end of a pseudo-terminal that never answers.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CComPort port;
    port.SetDeviceOverride(ptsname(master));
    if (!port.Open(1, 9600, 0, 8, 0, timeoutMs)) {
        state.SkipWithError(port.GetLastError().c_str());
        close(master);
        return;
    }

    std::string answer;
    double totalMs = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        port.Read(answer, 0);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        totalMs += took.count() * 1000.0;
    }
    // The time column rounds to whole milliseconds; these two are exact.
    state.counters["wait_ms"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
    state.counters["bound_ms"] = timeoutMs + 20;

    port.Close();
    close(master);
}

}  // namespace

// Ten single reads; the median is the figure to hold against bound_ms.
BENCHMARK(BM_SilentLineRead)
    ->Arg(200)
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
