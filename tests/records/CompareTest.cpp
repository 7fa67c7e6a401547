// The comparison of two parameter sets and the CSV of one.
#include <gtest/gtest.h>

#include "TestDir.h"
#include "records/ValueCompare.h"
#include "unit/Unit.h"

namespace {

std::vector<std::string> Lines(const std::vector<records::Difference>& differences)
{
    std::vector<std::string> lines;
    for (const records::Difference& d : differences)
        lines.push_back(d.where + "\t" + d.left + "\t" + d.right);
    return lines;
}

TEST(Compare, OnlyDifferingPlacesAreListedWithADashForAMissingValue)
{
    const UnitValues base{{200, -1, 5}, {150, 160}, {{1, 2}, {3, 4}}};
    struct Row
    {
        const char* rule;
        UnitValues right;
        std::vector<std::string> lines;
    };
    for (const Row& r : std::vector<Row>{
             {"equal", base, {}},
             {"global value", {{200, -1, 6}, {150, 160}, {{1, 2}, {3, 4}}}, {"Global 03\t5\t6"}},
             {"global absent", {{-1, 7, 5}, {150, 160}, {{1, 2}, {3, 4}}}, {"Global 01\t200\t-", "Global 02\t-\t7"}},
             {"fewer globals", {{200}, {150, 160}, {{1, 2}, {3, 4}}}, {"Global 03\t5\t-"}},
             {"set value then params", {{200, -1, 5}, {150, 161}, {{1, 2}, {3, 9}}},
              {"Zone02 P00\t160\t161", "Zone02 P02\t4\t9"}},
             {"more zones", {{200, -1, 5}, {150, 160, 170}, {{1, 2}, {3, 4}, {5, 6}}},
              {"Zone03 P00\t-\t170", "Zone03 P01\t-\t5", "Zone03 P02\t-\t6"}},
             {"more params", {{200, -1, 5}, {150, 160}, {{1, 2, 8}, {3, 4, 8}}},
              {"Zone01 P03\t-\t8", "Zone02 P03\t-\t8"}}}) {
        SCOPED_TRACE(r.rule);
        EXPECT_EQ(Lines(records::CompareValues(base, r.right)), r.lines);
    }
}

TEST(Compare, ARecipeIsReadOnItsOwnAndExportedInItsOrder)
{
    TestDir dir;
    dir.Write("r.7",
              "[HEADER]\r\nID=VORLENT_RECIPE\r\n[UNIT]\r\nAZ-Number=7\r\n"
              "[GLOBAL_PARAMETERS]\r\n02=450 - Max\r\n"
              "[ZONE_PARAMETERS]\r\nZone01=   196   200   100   250\r\nZone02=   201   205   101   251\r\n");
    dir.Write("not.7", "[HEADER]\r\nID=SOMETHING\r\n");
    CUnit catalogue;
    GlobalParamDef a, b;
    a.pDescriptionE = a.pDescriptionD = "Setpoint";
    b.pDescriptionE = b.pDescriptionD = "Max, \"hot\"";
    catalogue.SetGlobalParams({a, b});
    catalogue.WriteGlobalParam(1, 123);

    records::RecipeValues recipe;
    EXPECT_EQ(records::LoadRecipeValues(dir.File("not.7"), catalogue, recipe), records::RecipeLoad::NotARecipe);
    ASSERT_EQ(records::LoadRecipeValues(dir.File("r.7"), catalogue, recipe), records::RecipeLoad::Loaded);
    EXPECT_EQ(recipe.azNumber, 7);
    EXPECT_EQ(catalogue.ReadGlobalParam(1), 123);
    EXPECT_EQ(records::ValuesCsv(recipe.values, catalogue),
              "what,name,value\r\n"
              "Global 02,\"Max, \"\"hot\"\"\",450\r\n"
              "Zone01 P00,,200\r\nZone01 P01,,100\r\nZone01 P02,,250\r\n"
              "Zone02 P00,,205\r\nZone02 P01,,101\r\nZone02 P02,,251\r\n");
}

}  // namespace
