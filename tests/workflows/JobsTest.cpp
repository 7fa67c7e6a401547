// The scan, receive and send sequences against the simulated bus.
#include <gtest/gtest.h>

#include "SimFixture.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

using unitsim::FaultKind;

namespace {

class Recorder : public IJobProgress, public IScanObserver
{
public:
    void SetRange(int total) override { ranges.push_back(total); }
    void SetPosition(int position) override { positions.push_back(position); }
    bool StopRequested() override { return ++tests == stopAtTest; }
    void Polling(bool) override {}
    void Found(int16_t address, int16_t azNumber, const std::string& type) override
    {
        found.push_back({address, azNumber, type});
    }

    struct Unit
    {
        int16_t address;
        int16_t azNumber;
        std::string type;
    };
    std::vector<int> ranges, positions;
    std::vector<Unit> found;
    int tests = 0;
    int stopAtTest = -1;
};

const char* const kCommands[] = {"TSOLL", "TMAX", "ALARM", "HYST", "RAMP", "TIME", "UNIT", "MODE", "KP", "TN"};

std::vector<GlobalParamDef> Catalogue(int count)
{
    std::vector<GlobalParamDef> params;
    for (int i = 0; i < count; ++i) {
        GlobalParamDef def;
        def.pCommand = std::string(kCommands[i]) + "=";
        def.nMaxVal = 9999;
        params.push_back(def);
    }
    return params;
}

class Jobs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto small = MakeSimUnit(3, 7, 12, 7, 4);
        small.type = "TORVA 3";
        for (int i = 0; i < 10; ++i)
            small.globals.push_back({kCommands[i], 10 * i, 0, 9999});
        line.Bus().AddUnit(small);
        auto large = MakeSimUnit(12, 12, 120, 10, 5);
        large.globals = small.globals;
        line.Bus().AddUnit(large);
        unit.SetGlobalParams(Catalogue(10));
    }

    void Connect(int16_t address, int16_t timeoutMs = 25)
    {
        line.Start();
        line.Attach(unit, timeoutMs);
        unit.SetAddress(address);
        unit.SetOffline(false);
        ASSERT_TRUE(unit.OpenPort());
    }

    std::vector<std::string> RequestTexts()
    {
        std::vector<std::string> texts;
        for (const auto& r : line.Bus().Requests())
            texts.push_back(r.text);
        return texts;
    }

    SimLine line;
    CUnit unit;
    Recorder progress;
};

}  // namespace

TEST_F(Jobs, ScanFindsEveryUnitInAddressOrder)
{
    Connect(1, 10);
    EXPECT_EQ(RunScan(unit, progress), JobResult::Done);
    ASSERT_EQ(progress.found.size(), 2u);
    EXPECT_EQ(progress.found[0].address, 3);
    EXPECT_EQ(progress.found[0].azNumber, 7);
    EXPECT_EQ(progress.found[0].type, "TORVA08");
    EXPECT_EQ(progress.found[1].address, 12);
    EXPECT_EQ(progress.found[1].azNumber, 12);  // width 5, learned anew after width 4
}

TEST_F(Jobs, ScanStopsAfterTheAddressBeingPolled)
{
    Connect(1, 10);
    progress.stopAtTest = 7;
    EXPECT_EQ(RunScan(unit, progress), JobResult::Stopped);
    ASSERT_EQ(progress.found.size(), 1u);
    EXPECT_EQ(unit.GetAddress(), 7);
}

TEST_F(Jobs, ReceiveReadsIdentificationGlobalsAndRowsInOrder)
{
    Connect(3);
    ASSERT_EQ(RunReceive(unit, progress), JobResult::Done);
    ASSERT_EQ(progress.ranges, std::vector<int>{17});
    for (int p : progress.positions) {
        EXPECT_GE(p, 9);
        EXPECT_LE(p, 17);
    }
    std::vector<std::string> texts = RequestTexts();
    const std::vector<std::string> identification = {"?AZ#=", "?TYP=", "?SER=", "?VER=", "?DAT=", "?PAN=", "?KAN="};
    ASSERT_GE(texts.size(), identification.size() + 10 + 9);
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 7), identification);
    const std::vector<std::string> rows = {"KALPII=", "KALP00=", "KALP01=", "KALP02=", "KALP03=",
                                           "KALP04=", "KALP05=", "KALP06=", "KALP07="};
    EXPECT_EQ(std::vector<std::string>(texts.end() - 9, texts.end()), rows);
    unit.ClosePort();
    EXPECT_EQ(unit.QueryType(), "TORVA08");
    EXPECT_EQ(unit.QueryZoneCount(), 12);
    EXPECT_EQ(unit.ReadGlobalParam(10), 90);
}

TEST_F(Jobs, ReceiveStoppedAfterTheActualValuesKeepsTheOtherRows)
{
    Connect(3);
    unit.WriteSetValue(1, -5);  // closed: stored only
    ASSERT_TRUE(unit.OpenPort());
    progress.stopAtTest = 1;
    EXPECT_EQ(RunReceive(unit, progress), JobResult::Stopped);
    unit.ClosePort();
    EXPECT_EQ(unit.ReadSetValue(1), -5);
    EXPECT_EQ(RequestTexts().back(), "KALPII=");
}

TEST_F(Jobs, ReceiveEndsWithACommunicationErrorWithoutIdentification)
{
    struct Case
    {
        const char* silent;
    } cases[] = {{"?AZ#="}, {"?KAN="}, {"TIME="}, {"KALP02="}};
    for (const Case& c : cases) {
        SimLine bus;
        auto config = MakeSimUnit(3, 7, 12, 7, 4);
        config.globals = {{"TSOLL", 1, 0, 9}, {"TIME", 1, 0, 9}};
        bus.Bus().AddUnit(config);
        bus.Bus().AddFault(Fault(FaultKind::Silence, c.silent, -1));
        bus.Start();
        CUnit u;
        u.SetGlobalParams(Catalogue(6));
        bus.Attach(u, 20);
        u.SetAddress(3);
        u.SetOffline(false);
        ASSERT_TRUE(u.OpenPort());
        Recorder r;
        EXPECT_EQ(RunReceive(u, r), JobResult::CommError) << c.silent;
    }
}

TEST_F(Jobs, ReceiveOfAnUnpluggedLineEndsWithoutHanging)
{
    line.Bus().AddFault(Fault(FaultKind::Disconnect, "", -1, 0, 12));
    Connect(12);
    EXPECT_EQ(RunReceive(unit, progress), JobResult::CommError);
}

TEST_F(Jobs, SendWritesEachItemAndReadsItBack)
{
    Connect(3);
    ASSERT_EQ(RunReceive(unit, progress), JobResult::Done);
    std::vector<SendItem> items = {
        {SendItem::Kind::ZoneParam, 3, 5, 250},
        {SendItem::Kind::SetValue, 0, 2, 185},
        {SendItem::Kind::Global, 1, 0, 12000},  // outside the catalogue's limits
    };
    std::vector<SendOutcome> outcomes;
    EXPECT_EQ(RunSend(unit, items, progress, outcomes), JobResult::Done);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].code, WriteResult::Acknowledged);
    EXPECT_FALSE(outcomes[0].bDiffers);
    EXPECT_EQ(outcomes[1].readBack, 185);
    EXPECT_EQ(outcomes[2].code, WriteResult::Refused);
    EXPECT_TRUE(outcomes[2].bDiffers);
    std::lock_guard lock(line.Bus().Mutex());
    EXPECT_EQ(line.Bus().UnitAt(3)->zoneParams[2][4], 250);
}

TEST_F(Jobs, SendRefusedByTheUnitDiffersAndStopsWhenAsked)
{
    line.Bus().AddFault(Fault(FaultKind::Nak, "K04P00=", -1));
    Connect(3);
    ASSERT_EQ(RunReceive(unit, progress), JobResult::Done);
    std::vector<SendItem> items = {{SendItem::Kind::SetValue, 0, 4, 185}, {SendItem::Kind::SetValue, 0, 5, 186}};
    std::vector<SendOutcome> outcomes;
    progress.tests = 0;
    progress.stopAtTest = 1;
    EXPECT_EQ(RunSend(unit, items, progress, outcomes), JobResult::Stopped);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].code, WriteResult::NotAcknowledged);
    EXPECT_TRUE(outcomes[0].bDiffers);
}

TEST(WaitPollLimit, KeepsTheWaitNearAMinute)
{
    const struct
    {
        int timeoutMs, limit;
    } cases[] = {{200, 85}, {1000, 19}, {50, 240}, {20, 375}, {0, 600}, {-5, 600}};
    for (const auto& c : cases)
        EXPECT_EQ(WaitPollLimit(c.timeoutMs), c.limit) << c.timeoutMs;
}

TEST_F(Jobs, WaitForUnitEndsAtAnAnswerAtItsTimeCapOrWhenStopped)
{
    // The unit at 3 answers the first poll.
    Connect(3, 20);
    EXPECT_EQ(RunWaitForUnit(unit, progress), JobResult::Done);
    EXPECT_EQ(progress.ranges, std::vector<int>{375});
    EXPECT_EQ(progress.positions, std::vector<int>{1});
    EXPECT_EQ(RequestTexts(), std::vector<std::string>{"?AZ#="});

    // Nobody at 5: a failed poll costs the pause and three waits of 40 ms,
    // so a cap of 300 ms ends the wait in the pause after its first poll,
    // far below the limit of polls.
    unit.SetAddress(5);
    progress = Recorder();
    EXPECT_EQ(RunWaitForUnit(unit, progress, 300), JobResult::Done);
    EXPECT_EQ(progress.positions, std::vector<int>{1});

    // Cancel during the first pause: no poll goes out.
    line.Bus().ClearRequests();
    progress = Recorder();
    progress.stopAtTest = 3;
    EXPECT_EQ(RunWaitForUnit(unit, progress), JobResult::Stopped);
    EXPECT_TRUE(progress.positions.empty());
    EXPECT_TRUE(RequestTexts().empty());
}

TEST(ValueRangeOfWidth, IsWhatOneFieldOfTheWidthCarries)
{
    const struct
    {
        int width;
        bool bHex;
        int32_t min, max;
    } cases[] = {
        {4, false, -999, 9999}, {5, false, -9999, 99999}, {0, false, -9999, 99999},
        {4, true, -0x8000, 0x7FFF}, {5, true, -0x80000, 0x7FFFF},
    };
    for (const auto& c : cases) {
        const ValueRange range = ValueRangeOfWidth(c.width, c.bHex);
        EXPECT_EQ(range.nMin, c.min) << c.width << c.bHex;
        EXPECT_EQ(range.nMax, c.max) << c.width << c.bHex;
    }
}

TEST(ChangedItems, ListsGlobalsZoneParametersThenSetValuesThatDiffer)
{
    CUnit unit;
    unit.SetGlobalParams(Catalogue(3));
    unit.SetZoneCount(2);
    unit.SetZoneParamCount(2);
    const UnitValues before = CaptureValues(unit);
    unit.WriteGlobalParam(2, 5);
    unit.WriteGlobalParam(3, -1);  // no value: never listed
    unit.WriteSetValue(1, 180);
    unit.WriteZoneParam(2, 1, 7);
    unit.WriteZoneParam(1, 2, 9);
    const std::vector<SendItem> items = ChangedItems(before, unit);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].kind, SendItem::Kind::Global);
    EXPECT_EQ(items[0].index, 2);
    EXPECT_EQ(items[1].kind, SendItem::Kind::ZoneParam);
    EXPECT_EQ(items[1].zone, 1);
    EXPECT_EQ(items[1].index, 2);
    EXPECT_EQ(items[2].zone, 2);
    EXPECT_EQ(items[3].kind, SendItem::Kind::SetValue);
    EXPECT_EQ(items[3].value, 180);
}
