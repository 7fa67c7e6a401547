// A unit that answers later than the tool waits, at the time-out the field
// uses (200 ms): whole jobs against the simulated bus must come out with the
// unit's exact values or with a communication error, never with values
// shifted by one request.
#include <gtest/gtest.h>

#include "SimFixture.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

using unitsim::FaultKind;

namespace {

constexpr int16_t kTimeoutMs = 200;
const char* const kCommands[] = {"TSOLL", "TMAX", "HYST", "RAMP"};

class Quiet : public IJobProgress
{
public:
    void SetRange(int) override {}
    void SetPosition(int) override {}
    bool StopRequested() override { return false; }
};

// An 8-zone unit with 7 zone parameters and four globals, every value of it
// different from every other, so that a value in the wrong place shows.
class LateAnswers
{
public:
    explicit LateAnswers(const std::vector<unitsim::SimFault>& faults)
    {
        auto config = MakeSimUnit(3, 7, 8, 7, 4);
        for (int i = 0; i < 4; ++i)
            config.globals.push_back({kCommands[i], 11 * (i + 1), 0, 9999});
        line.Bus().AddUnit(config);
        for (const auto& f : faults)
            line.Bus().AddFault(f);
        std::vector<GlobalParamDef> catalogue;
        for (const char* c : kCommands) {
            GlobalParamDef def;
            def.pCommand = std::string(c) + "=";
            def.nMaxVal = 9999;
            catalogue.push_back(def);
        }
        unit.SetGlobalParams(catalogue);
        line.Start();
        line.Attach(unit, kTimeoutMs);
        unit.SetAddress(3);
        unit.SetOffline(false);
    }

    // Every value the record holds against the simulated unit's; the first
    // difference, or empty.
    std::string Difference()
    {
        std::lock_guard lock(line.Bus().Mutex());
        const unitsim::SimUnitConfig& sim = *line.Bus().UnitAt(3);
        for (int i = 1; i <= 4; ++i) {
            if (unit.ReadGlobalParam(static_cast<int16_t>(i)) != sim.globals[static_cast<std::size_t>(i - 1)].value)
                return std::string("global ") + kCommands[i - 1];
        }
        for (int16_t z = 1; z <= 8; ++z) {
            if (unit.ReadActualValue(z) != sim.actualValues[static_cast<std::size_t>(z - 1)])
                return "actual value of zone " + std::to_string(z);
            if (unit.ReadSetValue(z) != sim.setValues[static_cast<std::size_t>(z - 1)])
                return "set value of zone " + std::to_string(z);
            for (int16_t p = 1; p <= 7; ++p) {
                if (unit.ReadZoneParam(z, p) != sim.zoneParams[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(z - 1)])
                    return "P0" + std::to_string(p) + " of zone " + std::to_string(z);
            }
        }
        return {};
    }

    SimLine line;
    CUnit unit;
};

unitsim::SimFault Late(const std::string& pattern, int delayMs, int skip = 0)
{
    unitsim::SimFault f = Fault(FaultKind::Delay, pattern, -1, delayMs);
    f.skip = skip;
    return f;
}

}  // namespace

TEST(LateAnswer, AReceiveIsExactOrACommunicationError)
{
    // The unit is late with every try of the request named, so it owes one
    // answer for every try after the first when the tool moves on.
    const struct
    {
        const char* name;
        unitsim::SimFault fault;
        JobResult result;
    } cases[] = {
        {"a row 250 ms late", Late("KALP03=", 250), JobResult::Done},
        {"the first row 250 ms late", Late("KALPII=", 250), JobResult::Done},
        {"a global 250 ms late", Late("TMAX=", 250), JobResult::Done},
        {"the set values 600 ms late, answered in the third try", Late("KALP00=", 600), JobResult::Done},
        {"a row later than three tries wait", Late("KALP05=", 700), JobResult::CommError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LateAnswers bus({c.fault});
        ASSERT_TRUE(bus.unit.OpenPort()) << bus.unit.GetComPort().GetLastError();
        Quiet quiet;
        EXPECT_EQ(RunReceive(bus.unit, quiet), c.result);
        bus.unit.ClosePort();
        if (c.result == JobResult::Done) {
            EXPECT_EQ(bus.Difference(), "");
        }
    }
}

TEST(LateAnswer, ASendCountsEveryAcknowledgementAndReadBackForItsOwnCell)
{
    LateAnswers bus({Late("K05P03=0250", 250), Late("K02P00=", 250, 1)});
    ASSERT_TRUE(bus.unit.OpenPort()) << bus.unit.GetComPort().GetLastError();
    Quiet quiet;
    ASSERT_EQ(RunReceive(bus.unit, quiet), JobResult::Done);
    const std::vector<SendItem> items = {
        {SendItem::Kind::ZoneParam, 3, 5, 250},  // its ACK comes late
        {SendItem::Kind::SetValue, 0, 2, 185},   // its read-back comes late
        {SendItem::Kind::ZoneParam, 1, 6, 77},
        {SendItem::Kind::Global, 2, 0, 150},
    };
    std::vector<SendOutcome> outcomes;
    EXPECT_EQ(RunSend(bus.unit, items, quiet, outcomes), JobResult::Done);
    ASSERT_EQ(outcomes.size(), items.size());
    for (const SendOutcome& o : outcomes) {
        SCOPED_TRACE("zone " + std::to_string(o.item.zone) + " index " + std::to_string(o.item.index));
        EXPECT_EQ(o.code, WriteResult::Acknowledged);
        EXPECT_EQ(o.readBack, o.item.value);
        EXPECT_FALSE(o.bDiffers);
    }
    bus.unit.ClosePort();
    EXPECT_EQ(bus.Difference(), "");
}
