// The monitor job against the simulated bus: what it records, how it counts,
// and how it lives through an unplugged adapter.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "SimFixture.h"
#include "TestDir.h"
#include "monitor/MonitorJob.h"
#include "platform/Csv.h"

using unitsim::FaultKind;

namespace {

// Collects what the worker reports and lets the test wait for it.
class Collector : public IMonitorObserver
{
public:
    explicit Collector(unitsim::SimBus* bus = nullptr) : m_pBus(bus) {}

    void SampleTaken(const MonitorSample& sample) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        samples.push_back(sample);
        // What the unit holds now is what it last answered: the simulator
        // moves its values only when asked for them.
        std::vector<int32_t> actual, set;
        if (m_pBus && sample.Answered()) {
            std::lock_guard<std::mutex> busLock(m_pBus->Mutex());
            actual = m_pBus->UnitAt(sample.nAddress)->actualValues;
            set = m_pBus->UnitAt(sample.nAddress)->setValues;
        }
        unitHeld.push_back({actual, set});
        m_changed.notify_all();
    }
    void LinkChanged(MonitorLink state, const std::string&) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        links.push_back(state);
        m_changed.notify_all();
    }
    void CycleDone(long long, double, const std::vector<MonitorStats>& s) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stats = s;
    }

    // Waits (at most 20 s) until the condition holds over what came so far.
    template <typename Condition>
    bool WaitFor(Condition condition)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return condition(*this); });
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    unitsim::SimBus* m_pBus;
    std::vector<MonitorSample> samples;
    std::vector<std::pair<std::vector<int32_t>, std::vector<int32_t>>> unitHeld;
    std::vector<MonitorLink> links;
    std::vector<MonitorStats> stats;
};

MonitorConfig ConfigFor(const std::string& device, std::vector<int> addresses, long long cycles = 0)
{
    MonitorConfig config;
    config.line.strDevice = device;
    config.line.nTimeout = 30;
    for (int address : addresses)
        config.units.push_back(MonitorUnit{static_cast<int16_t>(address), 0, 0});
    config.interval = std::chrono::milliseconds(0);
    config.nMaxCycles = cycles;
    return config;
}

std::vector<std::string> Fields(const std::vector<int32_t>& actual, const std::vector<int32_t>& set, int columns)
{
    std::vector<std::string> fields;
    for (std::size_t z = 0; z < static_cast<std::size_t>(columns); ++z) {
        fields.push_back(z < actual.size() ? std::to_string(actual[z]) : "");
        fields.push_back(z < set.size() ? std::to_string(set[z]) : "");
    }
    return fields;
}

}  // namespace

// Cycle by cycle, the file holds what each unit sent: values that move,
// nothing at all while a unit is silent, values again once it answers; the
// narrower unit's line leaves the wider unit's extra zones empty.
TEST(MonitorJob, RecordingHoldsExactlyWhatTheUnitsSentCycleByCycle)
{
    SimLine line;
    auto heating = MakeSimUnit(3, 7, 12, 2, 4);
    heating.actualValues.assign(12, 20);
    heating.heatSeconds = 0.2;
    heating.heatNoise = 2;
    line.Bus().AddUnit(heating);
    line.Bus().AddUnit(MakeSimUnit(12, 12, 120, 2, 5));
    // Unit 3's actual row is silent in cycles 3 and 4 (three tries each).
    unitsim::SimFault silent = Fault(FaultKind::Silence, "KALPII=", 6);
    silent.address = 3;
    silent.skip = 2;
    line.Bus().AddFault(silent);
    line.Start();

    TestDir dir(false);
    Collector collector(&line.Bus());
    CMonitorJob job(collector);
    std::string error;
    ASSERT_TRUE(job.StartRecording(dir.File("live.csv"), false, error)) << error;
    ASSERT_TRUE(job.Start(ConfigFor(line.Path(), {3, 12}, 6))) << job.GetOpenError();
    job.Wait();

    const auto records = platform::CsvRecords(dir.Read("live.csv"));
    ASSERT_EQ(records.size(), 1u + 12u);
    EXPECT_EQ(platform::CsvLine(records[0]), CCsvRecorder::HeaderLine(120));
    struct Row
    {
        int address;
        bool bSilent;
    };
    const Row rows[] = {{3, false}, {12, false}, {3, false}, {12, false}, {3, true},  {12, false},
                        {3, true},  {12, false}, {3, false}, {12, false}, {3, false}, {12, false}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 2));
        const std::vector<std::string>& r = records[i + 1];
        ASSERT_EQ(r.size(), 2u + 240u);
        EXPECT_EQ(r[0], platform::IsoLocalTime(collector.samples[i].tWall));
        EXPECT_EQ(r[1], std::to_string(rows[i].address));
        const auto& [actual, set] = collector.unitHeld[i];
        EXPECT_EQ(actual.empty(), rows[i].bSilent);
        EXPECT_EQ(std::vector<std::string>(r.begin() + 2, r.end()), Fields(actual, set, 120));
    }
    // The values moved while they were recorded.
    EXPECT_NE(records[1][2], records[11][2]);
}

// How the statistics count: one fault per row, its counts side by side.
TEST(MonitorJob, StatisticsCountEachPollOnce)
{
    struct Case
    {
        const char* name;
        FaultKind kind;
        int times;
        int delayMs;
        long long polls, answered, retried, noAnswer, late;
    };
    // Two cycles of a known unit: four row requests, plus its two
    // identification requests. A unit whose row went unanswered, or was
    // answered only after a silent try (it may have restarted meanwhile), is
    // identified again; so is one identified in a cycle the line spoiled
    // (a late answer comes after a silent try).
    const Case cases[] = {
        {"clean line", FaultKind::Noise, 0, 0, 6, 6, 0, 0, 0},
        {"one silent try", FaultKind::Silence, 1, 0, 7, 6, 0, 1, 0},
        {"a silent unit", FaultKind::Silence, -1, 0, 6, 4, 0, 2, 0},
        {"one late answer", FaultKind::Delay, 1, 80, 7, 6, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimLine line;
        line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
        if (c.times != 0)
            line.Bus().AddFault(Fault(c.kind, "KALP", c.times, c.delayMs));
        line.Start();
        Collector collector;
        CMonitorJob job(collector);
        ASSERT_TRUE(job.Start(ConfigFor(line.Path(), {3}, 2)));
        job.Wait();
        const MonitorStats s = job.Statistics().at(0);
        // A silent actual row spares its set row the same silence.
        EXPECT_EQ(s.nPolls, c.polls);
        EXPECT_EQ(s.nAnswered, c.answered);
        EXPECT_EQ(s.nRetried, c.retried);
        EXPECT_EQ(s.nNoAnswer, c.noAnswer);
        EXPECT_EQ(s.nLateDiscarded, c.late);
        EXPECT_EQ(s.nZoneCount, 12);
        EXPECT_GT(s.dMeanCycleMs, 0.0);
    }
}

// The adapter is pulled (its by-id name, a symbolic link here, goes) and
// plugged in again as another device behind the same name: the job says so,
// opens the name again and goes on with values.
TEST(MonitorJob, AnUnpluggedAdapterIsOpenedAgainWhenItComesBack)
{
    namespace fs = std::filesystem;
    TestDir dir(false);
    const fs::path byId = fs::path(dir.Path()) / "usb-Vorlent_Adapter-if00-port0";
    auto first = std::make_unique<SimLine>();
    first->Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
    first->Start();
    fs::create_symlink(first->Path(), byId);

    Collector collector;
    CMonitorJob job(collector);
    MonitorConfig config = ConfigFor(byId.string(), {3});
    config.interval = std::chrono::milliseconds(50);
    ASSERT_TRUE(job.Start(config));
    ASSERT_TRUE(collector.WaitFor([](Collector& c) { return c.samples.size() >= 2; }));

    first->Unplug();
    fs::remove(byId);
    ASSERT_TRUE(collector.WaitFor([](Collector& c) { return !c.links.empty(); }));
    EXPECT_TRUE(collector.WaitFor([](Collector& c) { return c.links.front() == MonitorLink::Gone; }));
    EXPECT_TRUE(job.IsRunning());

    SimLine second;
    auto unit = MakeSimUnit(3, 7, 12, 2, 4);
    unit.actualValues.assign(12, 333);
    second.Bus().AddUnit(unit);
    second.Start();
    fs::create_symlink(second.Path(), byId);
    ASSERT_TRUE(collector.WaitFor([](Collector& c) {
        return !c.samples.empty() && !c.samples.back().actual.empty() && c.samples.back().actual[0] == 333;
    }));
    job.RequestStop();
    job.Wait();
    ASSERT_EQ(collector.links.size(), 2u);
    EXPECT_EQ(collector.links[1], MonitorLink::Open);
    first.reset();
}

// Pause, interval and stop act on a job that waits out a long interval at
// once: nothing goes out while paused, a shorter interval or a stop does not
// wait for the hour to pass.
TEST(MonitorJob, ControlsActOnAWaitingJobAtOnce)
{
    SimLine line;
    line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
    line.Start();
    Collector collector;
    CMonitorJob job(collector);
    MonitorConfig config = ConfigFor(line.Path(), {3});
    config.interval = std::chrono::hours(1);
    ASSERT_TRUE(job.Start(config));
    ASSERT_TRUE(collector.WaitFor([](Collector& c) { return c.samples.size() == 1; }));

    job.SetPaused(true);
    job.SetInterval(std::chrono::milliseconds(0));
    const int requests = line.Server().RequestCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(line.Server().RequestCount(), requests);
    EXPECT_TRUE(collector.WaitFor([](Collector& c) { return c.samples.size() == 1; }));

    job.SetPaused(false);
    ASSERT_TRUE(collector.WaitFor([](Collector& c) { return c.samples.size() >= 3; }));
    job.SetInterval(std::chrono::hours(1));
    const std::size_t taken = collector.samples.size();
    job.RequestStop();
    EXPECT_TRUE(job.Wait(std::chrono::seconds(20)));
    EXPECT_LE(collector.samples.size(), taken + 1);
    EXPECT_FALSE(job.IsRunning());
}

// Units added to or removed from a running job are polled, or no longer,
// from the next cycle on; the last unit stays.
TEST(MonitorJob, UnitsAddedOrRemovedCountFromTheNextCycle)
{
    SimLine line;
    line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
    line.Bus().AddUnit(MakeSimUnit(12, 12, 120, 2, 5));
    line.Start();
    Collector collector;
    CMonitorJob job(collector);
    EXPECT_FALSE(job.AddUnit(MonitorUnit{12, 0, 0}));  // not running yet
    ASSERT_TRUE(job.Start(ConfigFor(line.Path(), {3})));
    ASSERT_TRUE(collector.WaitFor([](Collector& c) { return !c.samples.empty(); }));

    EXPECT_FALSE(job.AddUnit(MonitorUnit{3, 0, 0}));
    EXPECT_FALSE(job.AddUnit(MonitorUnit{31, 0, 0}));
    ASSERT_TRUE(job.AddUnit(MonitorUnit{12, 0, 0}));
    ASSERT_TRUE(collector.WaitFor(
        [](Collector& c) { return c.samples.back().nAddress == 12 && c.samples.back().actual.size() == 120; }));
    ASSERT_TRUE(job.RemoveUnit(3));
    EXPECT_FALSE(job.RemoveUnit(12));
    EXPECT_FALSE(job.RemoveUnit(5));
    // Added and removed again before a cycle took it in: never polled.
    job.SetPaused(true);
    ASSERT_TRUE(job.AddUnit(MonitorUnit{5, 0, 0}));
    ASSERT_TRUE(job.RemoveUnit(5));
    job.SetPaused(false);
    std::size_t removedAt = 0;
    ASSERT_TRUE(collector.WaitFor([&](Collector& c) {
        removedAt = c.samples.size();
        return c.samples.size() >= 2 && c.samples[c.samples.size() - 2].nAddress == 12;
    }));
    ASSERT_TRUE(collector.WaitFor([&](Collector& c) { return c.samples.size() >= removedAt + 3; }));
    job.RequestStop();
    job.Wait();
    for (std::size_t i = removedAt; i < collector.samples.size(); ++i)
        EXPECT_EQ(collector.samples[i].nAddress, 12);
    EXPECT_EQ(job.Statistics().size(), 1u);
}
