// The chart's history: what a query gives back, and that it stays bounded.
#include <gtest/gtest.h>

#include "monitor/MonitorHistory.h"

namespace {

using Clock = std::chrono::system_clock;
const Clock::time_point kStart = Clock::time_point(std::chrono::hours(500000));

// Cycle i of a unit of the given zones: zone z reads i * 10 + z, set 1000 + z;
// every cycle listed in silent gives an empty sample.
MonitorSample Cycle(long long i, int zones, bool bSilent = false)
{
    MonitorSample s;
    s.nAddress = 4;
    s.nCycle = i;
    s.tWall = kStart + std::chrono::seconds(i);
    if (bSilent)
        return s;
    for (int z = 1; z <= zones; ++z) {
        s.actual.push_back(static_cast<int32_t>(i * 10 + z));
        s.set.push_back(1000 + z);
    }
    return s;
}

}  // namespace

TEST(MonitorHistory, QueriesGiveMinimaAndMaximaOfTheirSlices)
{
    CMonitorHistory history;
    for (long long i = 0; i < 100; ++i)
        history.Add(Cycle(i, 3, i >= 40 && i < 50));
    struct Case
    {
        const char* name;
        int zone;
        long long from, to;  // seconds after the start
        std::size_t maxPoints;
        std::size_t points;
        int32_t firstMin, firstMax;  // actual values of the first point
    };
    const Case cases[] = {
        {"every sample when they fit", 2, 0, 99, 100, 100, 2, 2},
        {"a part of the span", 2, 10, 19, 100, 10, 102, 102},
        {"ten slices of ten", 3, 0, 99, 10, 10, 3, 93},
        {"zone beyond the unit", 4, 0, 99, 10, 0, 0, 0},
        {"an empty span", 1, 200, 300, 10, 0, 0, 0},
        {"no points wanted", 1, 0, 99, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto points = history.Query(4, c.zone, kStart + std::chrono::seconds(c.from),
                                          kStart + std::chrono::seconds(c.to) + std::chrono::milliseconds(999),
                                          c.maxPoints);
        ASSERT_EQ(points.size(), c.points);
        if (points.empty())
            continue;
        EXPECT_EQ(points[0].nActualMin, c.firstMin);
        EXPECT_EQ(points[0].nActualMax, c.firstMax);
    }
    // The silent cycles are a gap, not old values.
    const auto sliced = history.Query(4, 1, kStart, kStart + std::chrono::milliseconds(99999), 10);
    ASSERT_EQ(sliced.size(), 10u);
    EXPECT_EQ(sliced[4].nActualMin, kNoValue);
    EXPECT_EQ(sliced[4].nSetMax, kNoValue);
    EXPECT_EQ(sliced[5].nActualMin, 501);
}

// A unit watched for longer than the fine store holds: the oldest cycles
// live on as steps of their extremes, the oldest of those fall out, and
// the memory stays within the stated bound.
TEST(MonitorHistory, OlderCyclesAreFoldedAndTheStoreStaysBounded)
{
    CMonitorHistory history;
    const int zones = 128;
    const long long fine = static_cast<long long>(CMonitorHistory::FineCycles(zones));
    const long long coarse = static_cast<long long>(CMonitorHistory::CoarseCycles(zones));
    const long long total = fine + coarse + 4 * static_cast<long long>(CMonitorHistory::kCoarseStep);
    for (long long i = 0; i < total; ++i)
        history.Add(Cycle(i, zones));
    EXPECT_LE(history.MemoryBytes(), CMonitorHistory::kUnitBudgetBytes);

    Clock::time_point oldest, newest;
    ASSERT_TRUE(history.Span(4, oldest, newest));
    // Four steps fell out of the coarse store.
    EXPECT_EQ(oldest, kStart + std::chrono::seconds(4 * CMonitorHistory::kCoarseStep));
    EXPECT_EQ(newest, kStart + std::chrono::seconds(total - 1));

    const auto points = history.Query(4, 7, oldest, newest, 1000000);
    ASSERT_EQ(points.size(), static_cast<std::size_t>(coarse / 16 + fine));
    const long long step = CMonitorHistory::kCoarseStep;
    EXPECT_EQ(points[0].nActualMin, 4 * step * 10 + 7);
    EXPECT_EQ(points[0].nActualMax, (5 * step - 1) * 10 + 7);
    EXPECT_EQ(points[0].nSetMin, 1007);
    EXPECT_EQ(points.back().nActualMax, (total - 1) * 10 + 7);
}
