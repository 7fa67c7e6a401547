// The monitor: its cycle at interval 0 against a paced line, as a ratio to
// the line's floor (wire time of every byte both ways and 1 ms after each
// telegram; the target is 1.02); the history's memory for a day of a 128-zone unit and the
// chart's query over it; the command-line monitor's processor share at one
// cycle a second.

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "SimFixture.h"
#include "TestDir.h"
#include "monitor/MonitorJob.h"

namespace {

using Clock = std::chrono::steady_clock;

// Marks the line's counters at the end of the first cycle (identification
// is not part of a cycle) and at the end of the last.
class CycleMarks : public IMonitorObserver
{
public:
    CycleMarks(unitsim::PtyServer& server, long long last) : m_server(server), m_nLast(last) {}
    void CycleDone(long long cycle, double cycleMs, const std::vector<MonitorStats>&) override
    {
        if (cycle == 1) {
            m_tFirst = Clock::now();
            m_nBytesFirst = m_server.BytesExchanged();
            m_nRequestsFirst = m_server.RequestCount();
        } else {
            m_cycleMs.push_back(cycleMs);
        }
        if (cycle == m_nLast) {
            m_tLast = Clock::now();
            m_nBytesLast = m_server.BytesExchanged();
            m_nRequestsLast = m_server.RequestCount();
        }
    }

    unitsim::PtyServer& m_server;
    long long m_nLast;
    Clock::time_point m_tFirst{}, m_tLast{};
    long long m_nBytesFirst = 0, m_nBytesLast = 0;
    int m_nRequestsFirst = 0, m_nRequestsLast = 0;
    std::vector<double> m_cycleMs;  // cycles 2..last

    double Median()
    {
        if (m_cycleMs.empty())
            return 0;
        std::sort(m_cycleMs.begin(), m_cycleMs.end());
        return m_cycleMs[m_cycleMs.size() / 2];
    }
};

// args: zones, width, baud, cycles measured.
void BM_MonitorCycleAtIntervalZero(benchmark::State& state)
{
    const int zones = static_cast<int>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const int baud = static_cast<int>(state.range(2));
    const long long cycles = state.range(3);
    double ratio = 0, cycleMs = 0, floorMs = 0, longestMs = 0, medianMs = 0;
    for (auto _ : state) {
        SimLine line(baud);
        line.Bus().AddUnit(MakeSimUnit(1, 7, zones, 2, width));
        line.Start();
        CycleMarks marks(line.Server(), cycles + 1);
        CMonitorJob job(marks);
        MonitorConfig config;
        config.line.strDevice = line.Path();
        config.line.nBaudrate = baud;
        config.units.push_back(MonitorUnit{1, 0, 0});
        config.interval = std::chrono::milliseconds(0);
        config.nMaxCycles = cycles + 1;
        if (!job.Start(config)) {
            state.SkipWithError(job.GetOpenError().c_str());
            return;
        }
        job.Wait();
        const double took = std::chrono::duration<double, std::milli>(marks.m_tLast - marks.m_tFirst).count();
        const double floor = static_cast<double>(marks.m_nBytesLast - marks.m_nBytesFirst) * 10.0 * 1000.0 / baud +
                             1.0 * (marks.m_nRequestsLast - marks.m_nRequestsFirst);
        state.SetIterationTime(took / 1000.0);
        cycleMs = took / static_cast<double>(cycles);
        floorMs = floor / static_cast<double>(cycles);
        ratio = floor > 0 ? took / floor : 0;
        medianMs = marks.Median();
        longestMs = marks.m_cycleMs.empty() ? 0 : marks.m_cycleMs.back();
    }
    state.counters["cycle_ms"] = cycleMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["target_ms"] = 1.02 * floorMs;
    state.counters["ratio"] = ratio;
    // On a shared machine a few cycles wait for a processor; the median
    // shows what the job itself costs.
    state.counters["median_ms"] = medianMs;
    state.counters["median_ratio"] = floorMs > 0 ? medianMs / floorMs : 0;
    state.counters["longest_ms"] = longestMs;
}
BENCHMARK(BM_MonitorCycleAtIntervalZero)
    ->Args({128, 5, 19200, 8})
    ->Args({128, 5, 115200, 40})
    ->Args({12, 4, 19200, 40})
    ->Args({12, 4, 115200, 200})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

MonitorSample DayCycle(long long i, int zones)
{
    MonitorSample s;
    s.nAddress = 1;
    s.nCycle = i + 1;
    s.tWall = std::chrono::system_clock::time_point(std::chrono::seconds(1796821387 + i));
    s.actual.resize(static_cast<std::size_t>(zones));
    s.set.assign(static_cast<std::size_t>(zones), 200);
    for (int z = 0; z < zones; ++z)
        s.actual[static_cast<std::size_t>(z)] = static_cast<int32_t>(150 + (i + z) % 100);
    return s;
}

long ResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A day of a 128-zone unit at one cycle a second: what it takes, and how
// long adding a cycle takes.
void BM_HistoryOfADay(benchmark::State& state)
{
    const int zones = 128;
    const long long cycles = 24 * 3600;
    double megabytes = 0, residentMB = 0;
    for (auto _ : state) {
        const long before = ResidentKiB();
        CMonitorHistory history;
        for (long long i = 0; i < cycles; ++i)
            history.Add(DayCycle(i, zones));
        megabytes = static_cast<double>(history.MemoryBytes()) / 1e6;
        residentMB = static_cast<double>(ResidentKiB() - before) / 1024.0;
    }
    state.counters["history_MB"] = megabytes;
    state.counters["bound_MB"] = static_cast<double>(CMonitorHistory::kUnitBudgetBytes) / 1e6;
    state.counters["max_rss_growth_MB"] = residentMB;
    state.counters["add_us"] = benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HistoryOfADay)->Iterations(1)->Unit(benchmark::kMillisecond);

// The chart's query: 16 zones over the last 8 hours of that day, at most
// 2000 points each.
void BM_HistoryChartQuery(benchmark::State& state)
{
    CMonitorHistory history;
    const long long cycles = 24 * 3600;
    for (long long i = 0; i < cycles; ++i)
        history.Add(DayCycle(i, 128));
    std::vector<int> zones;
    for (int z = 1; z <= 16; ++z)
        zones.push_back(z);
    const auto to = DayCycle(cycles - 1, 1).tWall;
    const auto from = to - std::chrono::hours(8);
    std::size_t points = 0;
    for (auto _ : state) {
        const auto result = history.Query(1, zones, from, to, static_cast<std::size_t>(state.range(0)));
        points = 0;
        for (const auto& zone : result)
            points += zone.size();
        benchmark::DoNotOptimize(points);
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_HistoryChartQuery)->Arg(2000)->Arg(28800)->Unit(benchmark::kMillisecond);

// The CLI's monitor of two units (12 and 120 zones) at 19200 baud, one cycle
// a second, for arg seconds: its processor time over the time it ran.
void BM_CliMonitorProcessorShare(benchmark::State& state)
{
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string cli = std::string(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    cli = cli.substr(0, cli.rfind('/') + 1) + "vorlent-cli";
    if (access(cli.c_str(), X_OK) != 0) {
        state.SkipWithError("vorlent-cli is not built beside the benchmark");
        return;
    }
    double share = 0;
    for (auto _ : state) {
        SimLine line(19200);
        line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
        line.Bus().AddUnit(MakeSimUnit(12, 12, 120, 2, 5));
        line.Start();
        TestDir home(false);
        TestDir work(false);
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string out = work.File("out");
            freopen(out.c_str(), "w", stdout);
            execl(cli.c_str(), cli.c_str(), "--home", home.Path().c_str(), "--device", line.Path().c_str(),
                  "--baud", "19200", "monitor", "3", "12", "--interval", "1", "--csv", work.File("live.csv").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
        kill(pid, SIGINT);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        share = cpu / wall;
        state.SetIterationTime(wall);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the monitor did not end cleanly");
    }
    state.counters["cpu_percent"] = 100.0 * share;
}
BENCHMARK(BM_CliMonitorProcessorShare)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
