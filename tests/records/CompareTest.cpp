// The comparison of two parameter sets.
#include <gtest/gtest.h>

#include "records/ValueCompare.h"

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

}  // namespace
