// The monitor's broker side for 30 units of 128 zones at one cycle a
// second: building the states and publishing them to a local broker, per
// cycle, with the processor time of the whole process (the library's
// network thread included) as a share of the interval; and the memory over a
// broker outage (VORLENT_BENCH_OUTAGE_S seconds, default 20; the figure
// quoted is for 600).

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "TestBroker.h"
#include "TestDir.h"
#include "mqtt/MqttBridge.h"
#include "platform/Csv.h"
#include "unit/Unit.h"

namespace {

constexpr int kUnits = 30;
constexpr int kZones = 128;

double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long RssKb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::vector<MonitorSample> Cycle(long long n)
{
    std::vector<MonitorSample> samples;
    for (int a = 1; a <= kUnits; ++a) {
        MonitorSample s;
        s.nAddress = static_cast<int16_t>(a);
        s.nCycle = n;
        s.tWall = std::chrono::system_clock::now();
        for (int z = 0; z < kZones; ++z) {
            s.actual.push_back(static_cast<int32_t>(150 + (z * 7 + n) % 90));
            s.set.push_back(200 + z);
        }
        samples.push_back(std::move(s));
    }
    return samples;
}

MqttBridgeConfig Config(int port, bool bPerZone)
{
    MqttBridgeConfig config;
    config.client.strHost = "127.0.0.1";
    config.client.nPort = port;
    config.client.strClientId = "bench-" + std::to_string(getpid());
    config.strBase = "bench/line";
    config.strBrokerName = "127.0.0.1:" + std::to_string(port);
    config.bPerZone = bPerZone;
    for (int a = 1; a <= kUnits; ++a)
        config.info.addresses.push_back(a);
    return config;
}

// Waits until the bridge has taken the broker's welcome.
bool Connect(CMqttBridge& bridge, CUnit& unit)
{
    std::string error;
    if (!bridge.Start(error))
        return false;
    for (int i = 0; i < 250 && !bridge.EverConnected(); ++i) {
        bridge.BetweenCycles(unit);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return bridge.EverConnected();
}

// The states alone: 30 JSON texts of 128 actual and set values.
void BM_StateJsonPerCycle(benchmark::State& state)
{
    const std::vector<MonitorSample> samples = Cycle(1);
    mqtt::UnitDetails unit;
    unit.azNumber = 12;
    unit.type = "TORVA08";
    unit.zones = kZones;
    std::string out;
    for (auto _ : state) {
        for (const MonitorSample& s : samples) {
            mqtt::AppendStateJson(out, s, unit, platform::IsoLocalTime(s.tWall));
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["bytes_per_state"] = static_cast<double>(out.size());
}
BENCHMARK(BM_StateJsonPerCycle)->Unit(benchmark::kMillisecond);

// One cycle as the monitor hands it over: 30 samples, then the publish
// between cycles: the states and availability (argument 0), and with
// --mqtt-per-zone (1) every actual value that changed, here all of them.
void BM_PublishPerCycle(benchmark::State& state)
{
    TestDir dir(false);
    TestBroker broker(dir.Path());
    CUnit unit;
    CMqttBridge bridge(Config(broker.Port(), state.range(0) != 0), {}, {});
    if (!broker.Start() || !Connect(bridge, unit)) {
        state.SkipWithError("no broker: run scripts/install-deps");
        return;
    }
    for (int a = 1; a <= kUnits; ++a)
        bridge.UnitIdentified(static_cast<int16_t>(a), kZones, 4);
    long long n = 0;
    std::vector<std::vector<MonitorSample>> cycles;
    for (int i = 0; i < 64; ++i)
        cycles.push_back(Cycle(i));
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        for (const MonitorSample& s : cycles[static_cast<std::size_t>(n++ % 64)])
            bridge.SampleTaken(s);
        bridge.BetweenCycles(unit);
    }
    // What the network thread still has to send counts too.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpuMs = (ProcessCpuMs() - cpuStart) / static_cast<double>(state.iterations());
    state.counters["cpu_ms_per_cycle"] = cpuMs;
    state.counters["cpu_share_at_1s_pct"] = cpuMs / 1000.0 * 100.0;
    state.counters["states"] = static_cast<double>(bridge.PublishedStates());
    bridge.Finish();
}
BENCHMARK(BM_PublishPerCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(300)->UseRealTime();

// The broker goes away for the outage; the monitor goes on at one cycle a
// second. The memory is measured after 60 warm-up cycles.
void BM_MemoryOverOutage(benchmark::State& state)
{
    const char* env = std::getenv("VORLENT_BENCH_OUTAGE_S");
    const long seconds = env ? std::max(1L, std::atol(env)) : 20;
    TestDir dir(false);
    TestBroker broker(dir.Path());
    CUnit unit;
    CMqttBridge bridge(Config(broker.Port(), false), {}, {});
    if (!broker.Start() || !Connect(bridge, unit)) {
        state.SkipWithError("no broker: run scripts/install-deps");
        return;
    }
    for (int a = 1; a <= kUnits; ++a)
        bridge.UnitIdentified(static_cast<int16_t>(a), kZones, 4);
    long long n = 0;
    auto cycle = [&] {
        for (const MonitorSample& s : Cycle(n++))
            bridge.SampleTaken(s);
        bridge.BetweenCycles(unit);
    };
    for (int i = 0; i < 60; ++i) {
        cycle();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (auto _ : state) {
        broker.Stop();
        const long before = RssKb();
        const long long published = bridge.PublishedStates();
        long peak = before;
        const auto start = std::chrono::steady_clock::now();
        for (long s = 1; s <= seconds; ++s) {
            cycle();
            peak = std::max(peak, RssKb());
            std::this_thread::sleep_until(start + std::chrono::seconds(s));
        }
        state.counters["rss_before_kb"] = static_cast<double>(before);
        state.counters["rss_peak_kb"] = static_cast<double>(peak);
        state.counters["rss_growth_kb"] = static_cast<double>(RssKb() - before);
        state.counters["outage_s"] = static_cast<double>(seconds);
        state.counters["states_in_outage"] = static_cast<double>(bridge.PublishedStates() - published);
    }
    bridge.Finish();
}
BENCHMARK(BM_MemoryOverOutage)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
