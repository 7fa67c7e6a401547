// How values are named for people, and the stable keys read back.
#include <gtest/gtest.h>

#include "records/ChangeRecord.h"
#include "records/ValueNames.h"

namespace {

using Kind = SendItem::Kind;

TEST(ValueNames, NameEveryKindInTheGivenLanguageAndReadTheKeysBack)
{
    const records::ValueLabels english;
    records::ValueLabels german;
    german.zone = "Zone";
    german.setValue = "Sollwert";
    german.param = "Par.";
    german.global = "Global";
    struct Case
    {
        SendItem item;
        const records::ValueLabels& labels;
        const char* description;
        const char* name;
    };
    const Case cases[] = {
        {{Kind::SetValue, 0, 5, 0}, english, "", "Zone 05 \u00b7 Set value"},
        {{Kind::SetValue, 0, 5, 0}, german, "", "Zone 05 \u00b7 Sollwert"},
        {{Kind::ZoneParam, 3, 5, 0}, english, "", "Zone 05 \u00b7 Par. 03"},
        {{Kind::ZoneParam, 64, 128, 0}, english, "", "Zone 128 \u00b7 Par. 64"},
        {{Kind::Global, 7, 0, 0}, english, "Alarm limit", "Global 07 \u00b7 Alarm limit"},
        {{Kind::Global, 7, 0, 0}, english, "", "Global 07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(records::ValueName(c.item, c.labels, c.description), c.name);
        // The record's key of the same place names the same place.
        SendItem back;
        ASSERT_TRUE(records::ParseWhere(records::WhereOf(c.item), back));
        EXPECT_EQ(back.kind, c.item.kind);
        EXPECT_EQ(back.index, c.item.index);
        EXPECT_EQ(back.zone, c.item.zone);
    }
}

TEST(ValueNames, OnlyTheRecordsOwnKeysAreReadBack)
{
    SendItem item;
    for (const char* text : {"", "Global", "Global 07x", "Global -1", "Global 00", "Zone05", "Zone05 P", "Zone05 P3x",
                             "Zone00 P01", "Zone 05 P03", "zone05 P03", "Zone1234 P01"})
        EXPECT_FALSE(records::ParseWhere(text, item)) << text;
}

}  // namespace
