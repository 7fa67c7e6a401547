// Whole transfers from the simulated bus paced at a real baud rate, as a
// ratio to the protocol's floor: the wire time of every byte both ways and
// the 1 ms turnaround after each answer. What is above 1 is what the tool
// adds on top of the line itself (wake-ups, per-byte waits, retries).

#include <benchmark/benchmark.h>

#include <chrono>

#include "BenchUnits.h"
#include "unit/Unit.h"
#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"
#include "workflows/Jobs.h"

namespace {

using bench::Quiet;
using bench::Unit;

// Runs body once per iteration against a fresh paced line and reports the
// ratio of the time taken to the floor, and the read calls made for the
// bytes received.
template <typename Body>
void Paced(benchmark::State& state, const unitsim::SimUnitConfig& config, int baud, Body body,
           unitsim::PtyServer::Delivery delivery = unitsim::PtyServer::Delivery::Paced)
{
    unitsim::SimBus bus;
    bus.AddUnit(config);
    unitsim::PtyServer server(bus);
    if (!server.Start(baud, delivery)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CUnit unit;
    unit.GetComPort().SetDeviceOverride(server.SlavePath());
    unit.SetInterface(1, baud);
    unit.SetLineSettings(0, 8, 0, 200);
    unit.SetAddress(1);
    unit.SetOffline(false);
    if (!unit.OpenPort()) {
        state.SkipWithError(unit.GetComPort().GetLastError().c_str());
        return;
    }
    // Learn width and counts once, outside the measurement.
    unit.QueryAZNumber();
    unit.QueryZoneParamCount();
    unit.QueryZoneCount();

    double seconds = 0, floor = 0, reads = 0, received = 0;
    for (auto _ : state) {
        const long long before = server.BytesExchanged();
        const long long answeredBefore = server.BytesAnswered();
        const int telegramsBefore = server.RequestCount();
        const long long readsBefore = unit.GetComPort().GetReadCalls();
        const auto start = std::chrono::steady_clock::now();
        if (!body(unit)) {
            state.SkipWithError("the transfer failed");
            break;
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        seconds += took.count();
        floor += static_cast<double>(server.BytesExchanged() - before) * 10.0 / baud +
                 0.001 * (server.RequestCount() - telegramsBefore);
        reads += static_cast<double>(unit.GetComPort().GetReadCalls() - readsBefore);
        received += static_cast<double>(server.BytesAnswered() - answeredBefore);
    }
    unit.ClosePort();
    const double n = static_cast<double>(state.iterations());
    state.counters["seconds"] = seconds / n;
    state.counters["floor_s"] = floor / n;
    state.counters["ratio"] = floor > 0 ? seconds / floor : 0;
    state.counters["reads"] = reads / n;
    state.counters["bytes_in"] = received / n;
    state.counters["bytes_per_read"] = reads > 0 ? received / reads : 0;
}

// Every row of a maximal unit: actual values, set values, P01..P64.
void BM_BulkReadMaximalUnit(benchmark::State& state)
{
    Paced(state, Unit(128, 64, 5), 115200, [](CUnit& unit) {
        for (int16_t row = -1; row <= 64; ++row) {
            if (!unit.ReadParamRow(row))
                return false;
        }
        return true;
    });
}

// The whole receive job of a maximal unit, 128 zones x 64 parameters of
// width 5, at the rate of the argument; the second argument 1 delivers the
// answers in 16 ms bursts as a USB adapter does, 0 in UART-sized pieces.
void BM_ReceiveMaximalUnit(benchmark::State& state)
{
    const int baud = static_cast<int>(state.range(0));
    const auto delivery = state.range(1) ? unitsim::PtyServer::Delivery::Bursts : unitsim::PtyServer::Delivery::Paced;
    Paced(state, Unit(128, 64, 5), baud, [](CUnit& unit) {
        unit.SetGlobalParams({});  // an empty catalogue, loaded
        Quiet quiet;
        return RunReceive(unit, quiet) == JobResult::Done;
    }, delivery);
}

// The whole receive job of the 120-zone demo unit (14 global parameters).
void BM_Receive120Zones(benchmark::State& state)
{
    std::vector<GlobalParamDef> catalogue;
    const auto config = bench::DemoUnit120(catalogue);
    Paced(state, config, 19200, [&](CUnit& unit) {
        unit.SetGlobalParams(catalogue);
        Quiet quiet;
        return RunReceive(unit, quiet) == JobResult::Done;
    });
}

class NoUnits : public IScanObserver
{
public:
    void Polling(bool) override {}
    void Found(int16_t, int16_t, const std::string&) override { ++found; }
    bool StopRequested() override { return false; }
    int found = 0;
};

// A scan of a bus on which nobody answers, at the field's time-out of 200 ms:
// 30 addresses of three silent tries each. Held against 90 x (request's
// wire time + t + 21 ms): the request leaving the wire, the wait for the
// first byte of every try, which begins only then, and its turnaround; what
// a late answer costs elsewhere must not show here.
void BM_EmptyBusScan(benchmark::State& state)
{
    constexpr int16_t kTimeoutMs = 200;
    unitsim::SimBus bus;
    unitsim::PtyServer server(bus);
    if (!server.Start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CUnit unit;
    unit.GetComPort().SetDeviceOverride(server.SlavePath());
    unit.SetInterface(1, 9600);
    unit.SetLineSettings(0, 8, 0, kTimeoutMs);
    if (!unit.OpenPort()) {
        state.SkipWithError(unit.GetComPort().GetLastError().c_str());
        return;
    }
    double seconds = 0;
    for (auto _ : state) {
        NoUnits observer;
        const auto start = std::chrono::steady_clock::now();
        RunScan(unit, observer);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (observer.found != 0) {
            state.SkipWithError("a unit answered on an empty bus");
            break;
        }
        state.SetIterationTime(took.count());
        seconds += took.count();
    }
    // "G01?AZ#=" with its checksum and ETX.
    const std::chrono::duration<double> request = unit.GetComPort().WireTime(11);
    unit.ClosePort();
    const double bound = 90.0 * ((kTimeoutMs + 21) / 1000.0 + request.count());
    state.counters["seconds"] = seconds / static_cast<double>(state.iterations());
    state.counters["bound_s"] = bound;
    state.counters["ratio"] = seconds / static_cast<double>(state.iterations()) / bound;
}

}  // namespace

BENCHMARK(BM_BulkReadMaximalUnit)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Receive120Zones)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveMaximalUnit)
    ->Args({115200, 0})
    ->Args({19200, 0})
    ->Args({115200, 1})
    ->Args({19200, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyBusScan)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
