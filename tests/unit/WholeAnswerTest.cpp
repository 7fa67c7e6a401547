// An answer is believed only when it is whole: the field's faults that keep
// the checksum right, each against a whole receive, which must end exact or
// with an error, never with a value the unit does not hold.
#include <gtest/gtest.h>

#include "SimFixture.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

using unitsim::FaultKind;
using unitsim::SimFault;

namespace {

class NoProgress : public IJobProgress
{
public:
    void SetRange(int) override {}
    void SetPosition(int) override {}
    bool StopRequested() override { return false; }
};

SimFault FieldFault(FaultKind kind, const std::string& pattern, int times, const std::string& bytes = "",
                    int offset = 4)
{
    SimFault fault = Fault(kind, pattern, times, kind == FaultKind::Reset ? 100 : 0);
    fault.noise = bytes;
    fault.offset = offset;
    return fault;
}

// Every value the receive took, against the simulated unit's memory.
bool HoldsTheUnitsValues(CUnit& unit, unitsim::SimBus& bus)
{
    std::lock_guard lock(bus.Mutex());
    const unitsim::SimUnitConfig& sim = *bus.UnitAt(3);
    bool same = unit.QueryZoneCount() == sim.zones && unit.QueryZoneParamCount() == sim.zoneParamCount &&
                unit.QueryAZNumber() == sim.azNumber;
    for (std::size_t i = 0; i < sim.globals.size(); ++i)
        same &= unit.ReadGlobalParam(static_cast<int16_t>(i + 1)) == sim.globals[i].value;
    for (int16_t z = 1; z <= sim.zones; ++z) {
        same &= unit.ReadSetValue(z) == sim.setValues[z - 1] && unit.ReadActualValue(z) == sim.actualValues[z - 1];
        for (int16_t p = 1; p <= sim.zoneParamCount; ++p)
            same &= unit.ReadZoneParam(z, p) == sim.zoneParams[p - 1][z - 1];
    }
    return same;
}

}  // namespace

TEST(WholeAnswer, AReceiveEndsExactOrWithAnErrorWhateverTheLineDoes)
{
    const std::string zeroSum("\x10\xF0", 2);  // adds up to 0 modulo 256
    const struct Row
    {
        const char* what;
        SimFault fault;
        JobResult expected;
        TransactFailure failure;
    } rows[] = {
        {"every answer from another address", FieldFault(FaultKind::OtherAddress, "", -1), JobResult::CommError,
         TransactFailure::OtherAddress},
        {"one row from another address", FieldFault(FaultKind::OtherAddress, "KALP02=", 1), JobResult::Done,
         TransactFailure::None},
        {"NAK inside a global's value", FieldFault(FaultKind::Insert, "TMAX=", -1, "\x15", 5), JobResult::CommError,
         TransactFailure::BadAnswer},
        {"ACK inside a global's value, once", FieldFault(FaultKind::Insert, "TMAX=", 1, "\x06", 5), JobResult::Done,
         TransactFailure::None},
        {"zero-sum bytes inside a row", FieldFault(FaultKind::Insert, "KALP03=", -1, zeroSum, 8),
         JobResult::CommError, TransactFailure::BadAnswer},
        {"zero-sum bytes inside the zone count", FieldFault(FaultKind::Insert, "?KAN=", -1, zeroSum, 5),
         JobResult::CommError, TransactFailure::BadAnswer},
        {"zero-sum bytes before the first width is learned", FieldFault(FaultKind::Insert, "?AZ#=", 1, zeroSum, 6),
         JobResult::Done, TransactFailure::None},
        {"a row one value short", FieldFault(FaultKind::ValuesShort, "KALP01=", -1), JobResult::CommError,
         TransactFailure::BadAnswer},
        {"a row one value long", FieldFault(FaultKind::ValuesLong, "KALP00=", -1), JobResult::CommError,
         TransactFailure::BadAnswer},
        {"a row one value short, once", FieldFault(FaultKind::ValuesShort, "KALP01=", 1), JobResult::Done,
         TransactFailure::None},
        {"a second answer to every row", FieldFault(FaultKind::SecondAnswer, "KALP00=", -1), JobResult::CommError,
         TransactFailure::SecondAnswer},
        {"a second answer, once", FieldFault(FaultKind::SecondAnswer, "?VER=", 1), JobResult::Done,
         TransactFailure::None},
        {"the revision date never whole", FieldFault(FaultKind::Insert, "?DAT=", -1, zeroSum, 6),
         JobResult::CommError, TransactFailure::BadAnswer},
        {"the zone parameter count never whole", FieldFault(FaultKind::Insert, "?PAN=", -1, zeroSum, 5),
         JobResult::CommError, TransactFailure::BadAnswer},
        // Its first row of the new length is a line fault: the receive
        // starts again and takes the unit as it came back, whole.
        {"a quick reset, back with 6 zones", FieldFault(FaultKind::Reset, "KALP02=", 1), JobResult::Done,
         TransactFailure::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimLine line;
        auto sim = MakeSimUnit(3, 7, 12, 7, 4);
        sim.globals = {{"TSOLL", 180, 0, 500}, {"TMAX", 450, 0, 600}, {"OFFS", -12, -50, 50}};
        line.Bus().AddUnit(sim);
        line.Bus().AddFault(row.fault);
        line.Start();
        CUnit unit;
        std::vector<GlobalParamDef> globals(3);
        for (std::size_t i = 0; i < globals.size(); ++i)
            globals[i].pCommand = sim.globals[i].command + "=";
        unit.SetGlobalParams(globals);
        line.Attach(unit, 20);
        unit.SetAddress(3);
        unit.SetOffline(false);
        ASSERT_TRUE(unit.OpenPort());
        NoProgress progress;
        const JobResult result = RunReceive(unit, progress);
        unit.ClosePort();
        EXPECT_EQ(result, row.expected);
        EXPECT_EQ(unit.GetLastFailure(), row.failure);
        if (result == JobResult::Done) {
            EXPECT_TRUE(HoldsTheUnitsValues(unit, line.Bus()));
        }
    }
}

TEST(WholeAnswer, ASlowLineSendsEachRequestOnce)
{
    // At 1200 baud a request is on the wire for about 100 ms, longer than the
    // 50 ms time-out; the wait for the first byte begins after it.
    SimLine line(1200);
    line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 7, 4));
    line.Start();
    CUnit unit;
    line.Attach(unit, 50);
    unit.SetInterface(1, 1200);
    unit.SetAddress(3);
    unit.SetOffline(false);
    ASSERT_TRUE(unit.OpenPort());
    EXPECT_EQ(unit.QueryAZNumber(), 7);
    EXPECT_EQ(unit.QueryZoneCount(), 12);
    EXPECT_EQ(line.Bus().Requests().size(), 2u);
}
