// The record's state rules, with the link closed.
#include <gtest/gtest.h>

#include "unit/Unit.h"

namespace {

std::vector<GlobalParamDef> TwoGlobals()
{
    GlobalParamDef a;
    a.pCommand = "TSOLL=";
    a.nMinVal = 0;
    a.nMaxVal = 500;
    GlobalParamDef b;
    b.pCommand = "ADDR=";
    return {a, b};
}

}  // namespace

TEST(UnitRecord, StartsOfflineClosedAtAddressZeroWithWidthFour)
{
    CUnit unit;
    EXPECT_TRUE(unit.IsOffline());
    EXPECT_FALSE(unit.IsPortOpen());
    EXPECT_EQ(unit.GetAddress(), 0);
    EXPECT_EQ(unit.GetValueWidth(), 4);
    EXPECT_EQ(unit.QueryAZNumber(), 0);
    EXPECT_EQ(unit.QueryType(), "");
    EXPECT_EQ(unit.QueryZoneCount(), 0);
    EXPECT_EQ(unit.QueryZoneParamCount(), 0);
    EXPECT_EQ(unit.ReadSetValue(1), 0);
    EXPECT_EQ(unit.ReadZoneParam(128, 64), 0);
    EXPECT_EQ(unit.Transact("?AZ#=", false), "");
    EXPECT_FALSE(unit.ReadGlobalParams());  // nothing loaded yet
}

TEST(UnitRecord, ClosedModeStoresWritesAndReadsThemBack)
{
    CUnit unit;
    unit.SetGlobalParams(TwoGlobals());
    EXPECT_EQ(unit.WriteZoneParam(7, 3, 250), WriteResult::LinkClosed);
    EXPECT_EQ(unit.ReadZoneParam(7, 3), 250);
    EXPECT_EQ(unit.WriteSetValue(5, -12), WriteResult::LinkClosed);
    EXPECT_EQ(unit.ReadSetValue(5), -12);
    // No range test while closed: the limits apply when the value is sent.
    EXPECT_EQ(unit.WriteGlobalParam(1, 9999), WriteResult::LinkClosed);
    EXPECT_EQ(unit.ReadGlobalParam(1), 9999);
    EXPECT_EQ(unit.WriteGlobalParam(2, 5), WriteResult::LinkClosed);
}

TEST(UnitRecord, IndicesOutsideTheTablesTouchNothing)
{
    CUnit unit;
    unit.SetGlobalParams(TwoGlobals());
    EXPECT_EQ(unit.WriteZoneParam(0, 1, 5), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.WriteZoneParam(129, 1, 5), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.WriteZoneParam(1, 65, 5), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.WriteZoneParam(1, 0, 5), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.WriteSetValue(129, 5), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.ReadZoneParam(1, -1), -1);
    EXPECT_EQ(unit.ReadActualValue(0), -1);
    EXPECT_EQ(unit.WriteGlobalParam(3, 1), WriteResult::NotAcknowledged);
    EXPECT_EQ(unit.ReadGlobalParam(0), -1);
    EXPECT_FALSE(unit.ReadParamRow(65));
}

TEST(UnitRecord, StateSetters)
{
    CUnit unit;
    unit.SetInterface(0, 19200);
    EXPECT_TRUE(unit.IsOffline());
    unit.SetInterface(3, 19200);
    EXPECT_FALSE(unit.IsOffline());
    EXPECT_EQ(unit.GetPort(), 3);
    EXPECT_EQ(unit.GetBaudrate(), 19200);

    unit.SetOffline(true);
    EXPECT_EQ(unit.GetValueWidth(), 0);

    // Another address forgets the width; the same address keeps it.
    unit.SetValueWidth(5);
    unit.SetAddress(4);
    EXPECT_EQ(unit.GetValueWidth(), 0);
    unit.SetValueWidth(5);
    unit.SetAddress(4);
    EXPECT_EQ(unit.GetValueWidth(), 5);
}

TEST(UnitRecord, RecipeSettersTakeEffectOnlyOfflineAndWithinTheTables)
{
    CUnit unit;
    unit.SetZoneCount(12);
    unit.SetZoneParamCount(7);
    unit.SetType("MZR 12");
    unit.SetActualValue(3, 23);
    EXPECT_EQ(unit.QueryZoneCount(), 12);
    EXPECT_EQ(unit.QueryZoneParamCount(), 7);
    EXPECT_EQ(unit.ReadActualValue(3), 23);

    unit.SetZoneCount(500);
    unit.SetZoneParamCount(-3);
    EXPECT_EQ(unit.QueryZoneCount(), kMaxZones);
    EXPECT_EQ(unit.QueryZoneParamCount(), 0);
    unit.SetActualValue(200, 1);  // outside: ignored

    unit.SetOffline(false);
    unit.SetZoneCount(4);
    unit.SetType("OTHER");
    unit.SetComment("kept");
    EXPECT_EQ(unit.QueryZoneCount(), kMaxZones);
    EXPECT_EQ(unit.QueryType(), "MZR 12");
    EXPECT_EQ(unit.GetComment(), "kept");
}

TEST(UnitRecord, KnownTypeSpellingsReadAsOneName)
{
    CUnit unit;
    for (const char* type : {"TORVA 3", "TORVA3"}) {
        unit.SetType(type);
        EXPECT_EQ(unit.QueryType(), "TORVA08") << type;
    }
    unit.SetType("TORVA 30");
    EXPECT_EQ(unit.QueryType(), "TORVA 30");
}
