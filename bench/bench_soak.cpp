// The soak: whole receives of a 12-zone unit through random byte noise on
// its answers, each judged against what the unit holds. A receive ends
// exact (done, every value right), with an error (the job said so), or
// wrong: done, and a value that is not the unit's. Wrong must stay 0: a
// value the tool reports is the value the unit holds, or the tool says it
// does not know. Exact and error tell how the layer copes.
//
// The receives run in parallel lanes, each its own simulated line, so that
// the time-outs the noise costs overlap. VORLENT_SOAK_RECEIVES sets the
// receives per noise level (default 1000).
//
// The twin soak puts a second unit behind the address that answers one
// kind of request a while after the first (each lane its own kind: the zone
// count, a global, the set row, the actual row; the delay goes round 2, 4,
// 8, 60 and 120 ms from receive to receive), on the line paced at the baud
// rate as a unit answers.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "BenchUnits.h"
#include "unit/Unit.h"
#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"
#include "workflows/Jobs.h"

namespace {

constexpr int kLanes = 4;
constexpr int kBaud = 115200;
constexpr int16_t kTimeoutMs = 5;
constexpr int kAddress = 3;

unitsim::SimUnitConfig SoakUnit()
{
    unitsim::SimUnitConfig config = MakeSimUnit(kAddress, 4711, 12, 7, 4);
    config.type = "MZR 12";
    config.eprom = 5201;
    config.version = 312;
    config.revDate = "04.11.25";
    config.globals = {{"TSOLL", 180, 0, 500}, {"TMAX", 450, 0, 600}, {"HYST", -12, -99, 99}};
    // Values of every shape the width allows: negative, zero, four digits.
    for (std::size_t z = 0; z < 12; ++z)
        config.actualValues.push_back(static_cast<int32_t>(z % 3 == 0 ? -99 + static_cast<int>(z) : 9000 + static_cast<int>(z)));
    return config;
}

std::vector<GlobalParamDef> Catalogue(const unitsim::SimUnitConfig& config)
{
    std::vector<GlobalParamDef> catalogue;
    for (const unitsim::SimGlobal& g : config.globals) {
        GlobalParamDef def;
        def.pCommand = g.command + "=";
        def.nMinVal = static_cast<int16_t>(g.minVal);
        def.nMaxVal = static_cast<int16_t>(g.maxVal);
        catalogue.push_back(def);
    }
    return catalogue;
}

// Every value a recipe would take from the record, against the unit's own;
// the first that differs is told on stderr (there should be none).
bool HoldsTheUnitsValues(CUnit& unit, const unitsim::SimUnitConfig& c)
{
    auto same = [](const char* what, auto got, auto want) {
        if (got == want)
            return true;
        std::cerr << "wrong " << what << ": " << got << " instead of " << want << '\n';
        return false;
    };
    bool ok = same("AZ number", unit.QueryAZNumber(), c.azNumber) && same("type", unit.QueryType(), c.type) &&
              same("EPROM number", unit.QueryEpromNumber(), c.eprom) &&
              same("version", unit.QueryVersion(), c.version) && same("date", unit.QueryRevDate(), c.revDate) &&
              same("zone count", unit.QueryZoneCount(), c.zones) &&
              same("zone parameter count", unit.QueryZoneParamCount(), c.zoneParamCount);
    for (std::size_t i = 0; ok && i < c.globals.size(); ++i)
        ok = same("global", unit.ReadGlobalParam(static_cast<int16_t>(i + 1)), c.globals[i].value);
    for (int z = 1; ok && z <= c.zones; ++z) {
        const auto zone = static_cast<int16_t>(z);
        ok = same("actual value", unit.ReadActualValue(zone), c.actualValues[static_cast<std::size_t>(z - 1)]) &&
             same("set value", unit.ReadSetValue(zone), c.setValues[static_cast<std::size_t>(z - 1)]);
        for (int p = 1; ok && p <= c.zoneParamCount; ++p)
            ok = same("zone parameter", unit.ReadZoneParam(zone, static_cast<int16_t>(p)),
                      c.zoneParams[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(z - 1)]);
    }
    return ok;
}

struct Tally
{
    std::atomic<int> exact{0}, error{0}, wrong{0}, noLine{0};
    std::atomic<long> noiseEvents{0};
};

constexpr int kTwinDelaysMs[] = {2, 4, 8, 60, 120};
const char* const kTwinPatterns[] = {"?KAN=", "TMAX=", "KALP00=", "KALPII="};

void Lane(double rate, int burst, unsigned seed, int receives, Tally& tally, const char* twinPattern = nullptr)
{
    unitsim::SimBus bus;
    unitsim::SimUnitConfig config = SoakUnit();
    bus.AddUnit(config);
    config = *bus.UnitAt(kAddress);  // as the bus filled it in
    bus.SetNoise({rate, seed, burst});
    unitsim::PtyServer server(bus);
    if (!server.Start(kBaud)) {
        tally.noLine += receives;
        return;
    }
    const std::vector<GlobalParamDef> catalogue = Catalogue(config);
    for (int i = 0; i < receives; ++i) {
        if (twinPattern) {
            unitsim::SimFault twin;
            twin.kind = unitsim::FaultKind::Twin;
            twin.pattern = twinPattern;
            twin.delayMs = kTwinDelaysMs[i % 5];
            bus.ClearFaults();
            bus.AddFault(twin);
        }
        // A fresh record each time: nothing of the last receive can pass
        // for this one's.
        auto unit = std::make_unique<CUnit>();
        unit->GetComPort().SetDeviceOverride(server.SlavePath());
        unit->SetInterface(1, kBaud);
        unit->SetLineSettings(0, 8, 0, kTimeoutMs);
        unit->SetGlobalParams(catalogue);
        unit->SetAddress(kAddress);
        unit->SetOffline(false);
        if (!unit->OpenPort()) {
            ++tally.noLine;
            continue;
        }
        bench::Quiet quiet;
        const JobResult result = RunReceive(*unit, quiet);
        unit->ClosePort();
        if (result != JobResult::Done)
            ++tally.error;
        else if (HoldsTheUnitsValues(*unit, config))
            ++tally.exact;
        else
            ++tally.wrong;
    }
    tally.noiseEvents += bus.NoiseEvents();
    server.Stop();
}

int ReceivesPerLevel()
{
    const char* text = std::getenv("VORLENT_SOAK_RECEIVES");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 1000;
}

// Arguments: noise rate in units of 0.1 %, the longest burst.
void BM_SoakReceive12Zones(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0)) / 1000.0;
    const int burst = static_cast<int>(state.range(1));
    const int receives = ReceivesPerLevel();
    Tally tally;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> lanes;
        for (int lane = 0; lane < kLanes; ++lane) {
            const int share = receives / kLanes + (lane < receives % kLanes ? 1 : 0);
            lanes.emplace_back(Lane, rate, burst, 1000u * static_cast<unsigned>(state.range(0)) + static_cast<unsigned>(lane) + 1,
                               share, std::ref(tally), nullptr);
        }
        for (std::thread& t : lanes)
            t.join();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    if (tally.noLine > 0)
        state.SkipWithError("no pseudo-terminal or the port could not be opened");
    state.counters["receives"] = receives;
    state.counters["exact"] = tally.exact.load();
    state.counters["error"] = tally.error.load();
    state.counters["wrong_exit0"] = tally.wrong.load();
    state.counters["noise_events"] = static_cast<double>(tally.noiseEvents.load());
}

// Twins on a clean line: every receive exact or an error.
void BM_SoakReceiveTwins(benchmark::State& state)
{
    const int receives = ReceivesPerLevel();
    Tally tally;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> lanes;
        for (int lane = 0; lane < kLanes; ++lane) {
            const int share = receives / kLanes + (lane < receives % kLanes ? 1 : 0);
            lanes.emplace_back(Lane, 0.0, 1, 1u, share, std::ref(tally), kTwinPatterns[lane % 4]);
        }
        for (std::thread& t : lanes)
            t.join();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    if (tally.noLine > 0)
        state.SkipWithError("no pseudo-terminal or the port could not be opened");
    state.counters["receives"] = receives;
    state.counters["exact"] = tally.exact.load();
    state.counters["error"] = tally.error.load();
    state.counters["wrong_exit0"] = tally.wrong.load();
}

}  // namespace

BENCHMARK(BM_SoakReceiveTwins)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SoakReceive12Zones)
    ->Args({2, 1})   // 0.2 %
    ->Args({20, 1})  // 2 %
    ->Args({20, 4})  // 2 %, bursts of up to 4 bytes
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
