// Recipe files: the layout written, what reading takes in either state, and
// the replacement of a file that only happens whole.
#include "recipe/Recipe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "TestDir.h"
#include "unit/Unit.h"

namespace {

constexpr std::time_t k2130Utc = 1711920600;  // 31.03.2024 21:30:00 UTC

std::vector<GlobalParamDef> Catalogue(int count)
{
    std::vector<GlobalParamDef> params;
    const char* english[] = {"Setpoint", "Ramp", "Alarm"};
    const char* german[] = {"Sollwert", "Rampe", "Alarm"};
    for (int i = 0; i < count; ++i) {
        GlobalParamDef def;
        def.pDescriptionE = i < 3 ? english[i] : "E" + std::to_string(i + 1);
        def.pDescriptionD = i < 3 ? german[i] : "D" + std::to_string(i + 1);
        def.pCommand = "G" + std::to_string(i + 1) + "=";
        def.nMinVal = -100;
        def.nMaxVal = 30000;
        params.push_back(def);
    }
    return params;
}

// The unit of the layout example: AZ 12, two zones with two parameters.
std::unique_ptr<CUnit> SmallUnit()
{
    auto unit = std::make_unique<CUnit>();
    unit->SetGlobalParams(Catalogue(3));
    unit->SetAZNumber(12);
    unit->SetType("TX-4");
    unit->SetEpromNumber(4711);
    unit->SetVersion(217);
    unit->SetRevDate("04.05.23");
    unit->SetComment("two\nlines");
    unit->WriteGlobalParam(1, 250);
    unit->WriteGlobalParam(3, -5);
    unit->SetZoneCount(2);
    unit->SetZoneParamCount(2);
    const int32_t rows[2][4] = {{23, 180, 5, 1200}, {21, 175, 5, 1200}};
    for (int16_t z = 1; z <= 2; ++z) {
        unit->SetActualValue(z, rows[z - 1][0]);
        unit->WriteSetValue(z, rows[z - 1][1]);
        unit->WriteZoneParam(z, 1, rows[z - 1][2]);
        unit->WriteZoneParam(z, 2, rows[z - 1][3]);
    }
    return unit;
}

// A text store with the given language name and stamp patterns.
void LoadLanguage(const TestDir& dir, CTextMemory& texts, const std::string& language,
                  const std::string& date = "%d.%m.%Y", const std::string& time = "%H:%M")
{
    dir.Write("test.lng", "[GENERAL]\r\nLanguage=" + language + "\r\nFormatDate=" + date + "\r\nFormatTime=" + time +
                              "\r\nLastIndex=0\r\n[TEXT]\r\n000=Title\r\n");
    ASSERT_TRUE(texts.Load("test.lng"));
}

std::string Key(const std::string& path, const std::string& section, const std::string& key)
{
    CIniFile ini(path, true);
    ini.ReadString(section, key);
    return ini.GetValue();
}

std::string Data(const std::string& name) { return std::string(VORLENT_TEST_DATA) + "/recipe/" + name; }

// A data file written into dir as name with one piece of text replaced: the
// shared inputs predate the rule that a damaged line makes no recipe.
std::string Mended(const TestDir& dir, const std::string& name, const std::string& from, const std::string& to)
{
    std::string text = dir.Exists(name) ? dir.Read(name) : ReadWholeFile(Data(name));
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    dir.Write(name, text);
    return dir.File(name);
}

// Everything a recipe carries, for comparing two records.
struct Snapshot
{
    int16_t az;
    std::string type, revDate, comment;
    int32_t eprom, version, zones, params;
    int16_t width;
    std::vector<int32_t> globals, actual, set, zoneParams;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(CUnit& unit)
{
    Snapshot s{unit.QueryAZNumber(), unit.QueryType(), unit.QueryRevDate(), unit.GetComment(),
               unit.QueryEpromNumber(), unit.QueryVersion(), unit.QueryZoneCount(), unit.QueryZoneParamCount(),
               unit.GetValueWidth(), {}, {}, {}, {}};
    for (int16_t i = 1; i <= unit.GetGlobalParamCount(); ++i)
        s.globals.push_back(unit.ReadGlobalParam(i));
    for (int16_t z = 1; z <= kMaxZones; ++z) {
        s.actual.push_back(unit.ReadActualValue(z));
        s.set.push_back(unit.ReadSetValue(z));
        for (int16_t p = 1; p <= kMaxZoneParams; ++p)
            s.zoneParams.push_back(unit.ReadZoneParam(z, p));
    }
    return s;
}

}  // namespace

TEST(Recipe, WrittenBytesFollowTheLayout)
{
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "English");
    auto unit = SmallUnit();
    const std::string path = dir.File("line2.12");
    ASSERT_TRUE(WriteRecipe(*unit, texts, path, k2130Utc));
    EXPECT_EQ(dir.Read("line2.12"), ReadWholeFile(Data("layout_two_zones.expected")));
    EXPECT_FALSE(dir.Exists("line2.12.tmp~"));

    // The same keys written one by one through the profile layer give the
    // same bytes.
    const std::string reference = dir.File("reference");
    const std::vector<std::array<std::string, 3>> keys = {
        {"HEADER", "ID", "VORLENT_RECIPE"},
        {"HEADER", "FileName", "line2.12"},
        {"HEADER", "Date", "31.03.2024"},
        {"HEADER", "Time", "23:30"},
        {"HEADER", "Comment", "two\nlines"},
        {"UNIT", "AZ-Number", "12"},
        {"UNIT", "Unit-Type", "TX-4"},
        {"UNIT", "EPROM#", "4711"},
        {"UNIT", "Version", "217"},
        {"UNIT", "Rev.Date", "04.05.23"},
        {"GLOBAL_PARAMETERS", "01", "250 - Setpoint"},
        {"GLOBAL_PARAMETERS", "03", "-5 - Alarm"},
        {"ZONE_PARAMETERS", "Descr.", "   Act   Set   P01   P02"},
        {"ZONE_PARAMETERS", "Zone01", "    23   180     5  1200"},
        {"ZONE_PARAMETERS", "Zone02", "    21   175     5  1200"},
    };
    for (const auto& [section, key, value] : keys) {
        CIniFile ini(reference, true);
        ini.SetValue(value);
        ASSERT_TRUE(ini.WriteString(section, key));
    }
    EXPECT_EQ(dir.Read("line2.12"), ReadWholeFile(reference));

    // German descriptions in any other language.
    LoadLanguage(dir, texts, "english");
    ASSERT_TRUE(WriteRecipe(*unit, texts, path, k2130Utc));
    EXPECT_EQ(Key(path, "GLOBAL_PARAMETERS", "01"), "250 - Sollwert");
}

TEST(Recipe, OfflineRoundTripReproducesTheRecord)
{
    struct Case
    {
        const char* what;
        int row;  // 0 actual, 1 set, 2.. zone parameter row - 1; -1 none
        int32_t value;
        int16_t width;
    };
    const Case cases[] = {
        {"small values", -1, 0, 4},
        {"set value 9999", 1, 9999, 4},
        {"set value 10000", 1, 10000, 5},
        {"zone parameter 10000", 3, 10000, 5},
        {"zone parameter 999999", 2, 999999, 5},
        {"actual value 10000 only", 0, 10000, 4},
        {"negative of six characters", 1, -99999, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir dir;
        CTextMemory texts;
        LoadLanguage(dir, texts, "English");
        auto unit = SmallUnit();
        unit->SetComment("C:\\data\\new\r\nsecond line\\");
        unit->SetZoneCount(3);
        unit->SetActualValue(3, -7);
        if (c.row == 0)
            unit->SetActualValue(2, c.value);
        else if (c.row == 1)
            unit->WriteSetValue(2, c.value);
        else if (c.row > 1)
            unit->WriteZoneParam(2, static_cast<int16_t>(c.row - 1), c.value);
        ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("r.12"), k2130Utc));

        auto loaded = std::make_unique<CUnit>();
        loaded->SetGlobalParams(Catalogue(3));
        loaded->WriteGlobalParam(2, 77);  // the file has no key for it: absent again
        loaded->SetZoneParamCount(9);
        ASSERT_EQ(ReadRecipe(*loaded, dir.File("r.12")), RecipeResult::Loaded);
        unit->SetValueWidth(c.width);
        EXPECT_EQ(Take(*loaded), Take(*unit));
        EXPECT_EQ(loaded->GetValueWidth(), c.width);
        EXPECT_EQ(loaded->ReadGlobalParam(2), -1);
    }
}

TEST(Recipe, ZoneLinesKeepTheirGridOnDisk)
{
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "English");
    auto unit = SmallUnit();
    unit->SetActualValue(1, 5);
    unit->WriteZoneParam(2, 2, -99999);
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("grid"), k2130Utc));
    const std::string raw = dir.Read("grid");
    // The profile reader would trim the leading blanks; the file keeps them.
    EXPECT_NE(raw.find("\r\nZone01=     5   180     5  1200\r\n"), std::string::npos);
    EXPECT_NE(raw.find("\r\nZone02=    21   175     5-99999\r\n"), std::string::npos);
    EXPECT_EQ(Key(dir.File("grid"), "ZONE_PARAMETERS", "Zone01"), "5   180     5  1200");

    // No zone parameters: two labels and twelve characters a zone.
    unit->SetZoneParamCount(0);
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("grid"), k2130Utc));
    const std::string bare = dir.Read("grid");
    EXPECT_NE(bare.find("\r\nDescr.=   Act   Set\r\nZone01=     5   180\r\nZone02=    21   175\r\n"),
              std::string::npos);
    auto loaded = std::make_unique<CUnit>();
    loaded->SetZoneParamCount(5);
    ASSERT_EQ(ReadRecipe(*loaded, dir.File("grid")), RecipeResult::Loaded);
    EXPECT_EQ(loaded->QueryZoneParamCount(), 0);
    EXPECT_EQ(loaded->QueryZoneCount(), 2);
    EXPECT_EQ(loaded->ReadActualValue(1), 5);
}

TEST(Recipe, TimeStampRunsTwoHoursAheadOfUniversalTime)
{
    constexpr std::time_t k2300Utc = 1735686000;  // 31.12.2024 23:00:00 UTC
    const struct { std::time_t now; std::string pattern, text; } cases[] = {
        {k2300Utc, "%d.%m.%Y", "01.01.2025"},
        {k2300Utc, "%H:%M:%S", "01:00:00"},
        {k2130Utc, "%Y-%m-%d %H:%M", "2024-03-31 23:30"},
        {k2300Utc, "", ""},
        {k2300Utc, std::string(127, 'x'), std::string(127, 'x')},  // exactly fits
        {k2300Utc, std::string(128, 'x'), ""},                     // does not fit: empty
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(RecipeStamp(c.now, c.pattern), c.text);
    }

    // What a save at 23:00 UTC writes.
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "English", "%d.%m.%Y", "%H:%M");
    auto unit = SmallUnit();
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("late"), k2300Utc));
    EXPECT_EQ(Key(dir.File("late"), "HEADER", "Date"), "01.01.2025");
    EXPECT_EQ(Key(dir.File("late"), "HEADER", "Time"), "01:00");
}

TEST(Recipe, FileNameIsThePartAfterTheLastSeparator)
{
    const struct { const char* path; const char* name; } cases[] = {
        {"/home/op/recipes/line2.12", "line2.12"},
        {"C:\\recipes\\line2.7", "line2.7"},
        {"/mixed\\dir/and\\file.3", "file.3"},
        {"plain.12", "plain.12"},
        {"/trailing/", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecipeFileName(c.path), c.name) << c.path;
}

TEST(Recipe, CommentAndGlobalValuesAbsentInTheFile)
{
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "English");
    auto unit = SmallUnit();
    unit->SetComment("");
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("plain"), k2130Utc));
    EXPECT_EQ(dir.Read("plain").find("Comment"), std::string::npos);
    EXPECT_EQ(dir.Read("plain").find("\r\n02="), std::string::npos);  // value -1: no key

    // No global value at all: no section either.
    for (int16_t i = 1; i <= 3; ++i)
        unit->WriteGlobalParam(i, -1);
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("plain"), k2130Utc));
    EXPECT_EQ(dir.Read("plain").find("GLOBAL_PARAMETERS"), std::string::npos);

    auto loaded = std::make_unique<CUnit>();
    loaded->SetGlobalParams(Catalogue(3));
    loaded->SetComment("old comment");
    ASSERT_EQ(ReadRecipe(*loaded, dir.File("plain")), RecipeResult::Loaded);
    EXPECT_EQ(loaded->GetComment(), "");

    // Only the leading integer of a value counts; empty or missing is absent.
    auto globals = std::make_unique<CUnit>();
    globals->SetGlobalParams(Catalogue(7));
    for (int16_t i = 1; i <= 7; ++i)
        globals->WriteGlobalParam(i, 99);
    Mended(dir, "global_values.rcp", "02=abc\r\n", "02= 0\r\n");
    ASSERT_EQ(ReadRecipe(*globals, Mended(dir, "global_values.rcp", "17mm", "17 mm")), RecipeResult::Loaded);
    const int32_t expected[] = {250, 0, -1, -1, -1, 17, -1};
    for (int16_t i = 1; i <= 7; ++i)
        EXPECT_EQ(globals->ReadGlobalParam(i), expected[i - 1]) << "parameter " << i;
}

TEST(Recipe, OnlyRecipeFilesAreRead)
{
    const char* files[] = {"id_lower_case.rcp", "no_header.rcp", "not_a_profile_file.rcp", "does_not_exist.rcp",
                           "az_number_beyond_16_bits.rcp"};
    for (const char* file : files) {
        SCOPED_TRACE(file);
        auto unit = SmallUnit();
        const Snapshot before = Take(*unit);
        EXPECT_EQ(ReadRecipe(*unit, Data(file)), RecipeResult::NotARecipe);
        EXPECT_EQ(Take(*unit), before);
    }
}

TEST(Recipe, ZoneLinesOffline)
{
    // Leading blanks restored, extra columns ignored, and reading stops at
    // the first missing zone.
    TestDir dir;
    auto unit = std::make_unique<CUnit>();
    unit->WriteZoneParam(3, 1, 55);
    ASSERT_EQ(ReadRecipe(*unit, Mended(dir, "zone_lines_trimmed_and_ragged.rcp", "Zone03=20   170\r\nZone04=    19\r\n",
                                       "Zone03=20   170     0     0\r\nZone04=    19     0     0     0\r\n")),
              RecipeResult::Loaded);
    EXPECT_EQ(unit->QueryZoneCount(), 4);
    EXPECT_EQ(unit->QueryZoneParamCount(), 2);
    EXPECT_EQ(unit->GetValueWidth(), 4);
    const int32_t rows[4][4] = {{23, 180, 5, 1200}, {1, 21, 175, 6}, {20, 170, 0, 0}, {19, 0, 0, 0}};
    for (int16_t z = 1; z <= 4; ++z) {
        SCOPED_TRACE(z);
        EXPECT_EQ(unit->ReadActualValue(z), rows[z - 1][0]);
        EXPECT_EQ(unit->ReadSetValue(z), rows[z - 1][1]);
        EXPECT_EQ(unit->ReadZoneParam(z, 1), rows[z - 1][2]);
        EXPECT_EQ(unit->ReadZoneParam(z, 2), rows[z - 1][3]);
    }
    EXPECT_EQ(unit->ReadSetValue(6), 0);

    // Without a line for zone 1 there are no zones.
    auto empty = std::make_unique<CUnit>();
    empty->SetZoneCount(5);
    empty->SetValueWidth(5);
    ASSERT_EQ(ReadRecipe(*empty, Data("no_zone01.rcp")), RecipeResult::Loaded);
    EXPECT_EQ(empty->QueryZoneCount(), 0);
    EXPECT_EQ(empty->GetValueWidth(), 4);
    EXPECT_EQ(empty->ReadSetValue(2), 0);
}

TEST(Recipe, MoreZonesAndColumnsThanTheRecordHoldsAreIgnored)
{
    TestDir dir;
    std::string text = "[HEADER]\r\nID=VORLENT_RECIPE\r\n[ZONE_PARAMETERS]\r\n";
    for (int z = 1; z <= 130; ++z) {
        text += "Zone" + std::string(z < 10 ? "0" : "") + std::to_string(z) + "=";
        for (int column = 0; column < 70; ++column) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%6d", z * 100 + column);
            text += cell;
        }
        text += "\r\n";
    }
    dir.Write("big", text);
    auto unit = std::make_unique<CUnit>();
    ASSERT_EQ(ReadRecipe(*unit, dir.File("big")), RecipeResult::Loaded);
    EXPECT_EQ(unit->QueryZoneCount(), kMaxZones);
    EXPECT_EQ(unit->QueryZoneParamCount(), kMaxZoneParams);
    EXPECT_EQ(unit->ReadActualValue(128), 12800);
    EXPECT_EQ(unit->ReadSetValue(128), 12801);
    EXPECT_EQ(unit->ReadZoneParam(128, 64), 12865);
    EXPECT_EQ(unit->ReadZoneParam(1, 64), 165);
    EXPECT_EQ(unit->GetValueWidth(), 5);

    // A first line shorter than twelve characters has no zone parameters.
    for (const char* line : {"    1", "    1     2", "1"}) {
        SCOPED_TRACE(line);
        dir.Write("short", std::string("[HEADER]\r\nID=VORLENT_RECIPE\r\n[ZONE_PARAMETERS]\r\nZone01=") + line + "\r\n");
        auto shortUnit = std::make_unique<CUnit>();
        shortUnit->SetZoneParamCount(3);
        ASSERT_EQ(ReadRecipe(*shortUnit, dir.File("short")), RecipeResult::Loaded);
        EXPECT_EQ(shortUnit->QueryZoneParamCount(), 0);
        EXPECT_EQ(shortUnit->QueryZoneCount(), 1);
    }
}

TEST(Recipe, ReadsWithTheProfileRules)
{
    TestDir dir;
    Mended(dir, "profile_rules.rcp", "COMMENT=first\r\nComment=second\r\n", "COMMENT=first\r\n");
    Mended(dir, "profile_rules.rcp", "[HEADER]\r\nComment=from the second section\r\n", "");
    const std::string path = Mended(dir, "profile_rules.rcp", "EPROM#=12abc", "EPROM#=12");
    auto unit = std::make_unique<CUnit>();
    ASSERT_EQ(ReadRecipe(*unit, path), RecipeResult::Loaded);
    EXPECT_EQ(unit->GetComment(), Key(path, "HEADER", "Comment"));
    EXPECT_EQ(unit->GetComment(), "first");
    EXPECT_EQ(unit->QueryAZNumber(), ToNumber(Key(path, "UNIT", "AZ-Number")));
    EXPECT_EQ(unit->QueryType(), Key(path, "UNIT", "Unit-Type"));
    EXPECT_EQ(unit->QueryEpromNumber(), ToNumber(Key(path, "UNIT", "EPROM#")));
    EXPECT_EQ(unit->QueryVersion(), ToNumber(Key(path, "UNIT", "Version")));
    EXPECT_EQ(unit->QueryRevDate(), Key(path, "UNIT", "Rev.Date"));
    EXPECT_EQ(unit->QueryZoneCount(), 2);
    EXPECT_EQ(unit->ReadActualValue(2), 3);
    EXPECT_EQ(unit->ReadSetValue(2), 4);
}

TEST(Recipe, WithAUnitSelected)
{
    const auto selectedUnit = [] {
        auto unit = SmallUnit();
        unit->SetZoneCount(3);
        unit->SetActualValue(3, 33);
        unit->WriteSetValue(3, 330);
        unit->WriteZoneParam(2, 2, 222);
        unit->SetValueWidth(4);
        unit->SetOffline(false);
        return unit;
    };

    // Another unit's recipe changes nothing; 65548 is not 12 cut short.
    auto other = selectedUnit();
    const Snapshot before = Take(*other);
    for (const char* file : {"selected_other_az.rcp", "az_number_beyond_16_bits.rcp"}) {
        EXPECT_EQ(ReadRecipe(*other, Data(file)), RecipeResult::OtherUnit) << file;
        EXPECT_EQ(Take(*other), before);
    }

    TestDir dir;
    auto unit = selectedUnit();
    ASSERT_EQ(ReadRecipe(*unit, Mended(dir, "selected_same_az.rcp", "Zone02=   902   502    61\r\n",
                                       "Zone02=   902   502    61   222\r\n")),
              RecipeResult::Loaded);
    Snapshot expected = before;
    expected.comment = "from file";
    expected.globals = {111, -1, -5};  // a missing key keeps the unit's value
    const auto at = [](int16_t z, int16_t p) { return static_cast<std::size_t>((z - 1) * kMaxZoneParams + p - 1); };
    expected.set[0] = 501;
    expected.zoneParams[at(1, 1)] = 51;
    expected.zoneParams[at(1, 2)] = 52;
    expected.set[1] = 502;
    expected.zoneParams[at(2, 1)] = 61;  // P02 of zone 2 is 222 in the file as in the unit
    expected.set[2] = 503;
    expected.zoneParams[at(3, 1)] = 71;
    expected.zoneParams[at(3, 2)] = 72;  // the third column is beyond the unit's count
    // A zone beyond the unit's count is stored as well.
    expected.set[3] = 504;
    expected.zoneParams[at(4, 1)] = 81;
    expected.zoneParams[at(4, 2)] = 82;
    // Identification, counts, width and actual values are the unit's own.
    EXPECT_EQ(Take(*unit), expected);
    EXPECT_EQ(unit->ReadZoneParam(2, 2), 222);
    EXPECT_EQ(unit->ReadActualValue(1), 23);
    EXPECT_EQ(unit->QueryType(), "TX-4");
}

TEST(Recipe, AFailedSaveKeepsThePreviousFile)
{
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "English");
    const std::string path = dir.File("keep.12");
    const std::string old = "[HEADER]\r\nID=VORLENT_RECIPE\r\nOld=kept\r\n";

    struct Case
    {
        const char* what;
        void (*spoil)(CUnit&);
    };
    const Case cases[] = {
        {"set value above the column", [](CUnit& u) { u.WriteSetValue(2, 1000000); }},
        {"zone parameter below the column", [](CUnit& u) { u.WriteZoneParam(1, 2, -100000); }},
        {"actual value above the column", [](CUnit& u) { u.SetActualValue(1, 1000000); }},
        {"comment longer than a value", [](CUnit& u) { u.SetComment(std::string(1024, 'c')); }},
        {"comment whose escapes are too long", [](CUnit& u) { u.SetComment(std::string(512, '\\')); }},
        {"type longer than a value", [](CUnit& u) { u.SetType(std::string(1100, 't')); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("keep.12", old);
        auto unit = SmallUnit();
        c.spoil(*unit);
        EXPECT_FALSE(WriteRecipe(*unit, texts, path, k2130Utc));
        EXPECT_EQ(dir.Read("keep.12"), old);
        EXPECT_FALSE(dir.Exists("keep.12.tmp~"));
    }

    // A value outside the zones written does not count; a comment of 1023
    // characters fits.
    auto unit = SmallUnit();
    unit->WriteSetValue(3, 1000000);
    unit->WriteZoneParam(1, 3, 1000000);
    unit->SetComment(std::string(1023, 'c'));
    dir.Write("keep.12.tmp~", "not the program's file");
    ASSERT_TRUE(WriteRecipe(*unit, texts, path, k2130Utc));
    EXPECT_EQ(Key(path, "HEADER", "Old"), "");  // written from scratch
    EXPECT_EQ(Key(path, "HEADER", "Comment"), std::string(1023, 'c'));
    EXPECT_EQ(dir.Read("keep.12.tmp~"), "not the program's file");

    // A read-only file or directory stays as it is, for root as well: a
    // recipe is replaced whole or not at all, never rewritten in place.
    dir.Write("keep.12", old);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(WriteRecipe(*unit, texts, path, k2130Utc));
    EXPECT_EQ(dir.Read("keep.12"), old);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(WriteRecipe(*unit, texts, path, k2130Utc));
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(dir.Read("keep.12"), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);  // test.lng beside
}

// Recipes of older installations are 8-bit text; what is read arrives as
// UTF-8 and is written back as UTF-8 without a byte-order mark.
TEST(Recipe, EightBitTextIsReadAsUtf8AndWrittenAsUtf8)
{
    TestDir dir;
    CTextMemory texts;
    LoadLanguage(dir, texts, "Deutsch");
    auto unit = std::make_unique<CUnit>();
    std::vector<GlobalParamDef> params = Catalogue(1);
    params[0].pDescriptionD = "Temperatur in \u00B0C";
    unit->SetGlobalParams(params);
    ASSERT_EQ(ReadRecipe(*unit, Data("windows_1252_comment.rcp")), RecipeResult::Loaded);
    EXPECT_EQ(unit->GetComment(), "D\u00FCse 3 bei 180 \u00B0C\nzweite Zeile");
    EXPECT_EQ(unit->QueryType(), "Regler \u00E4");

    unit->WriteGlobalParam(1, 180);
    ASSERT_TRUE(WriteRecipe(*unit, texts, dir.File("out.12"), k2130Utc));
    const std::string written = dir.Read("out.12");
    EXPECT_TRUE(platform::IsValidUtf8(written));
    EXPECT_EQ(written.substr(0, 8), "[HEADER]");
    EXPECT_NE(written.find("Comment=D\u00FCse 3 bei 180 \u00B0C\\nzweite Zeile\r\n"), std::string::npos);
    EXPECT_NE(written.find("01=180 - Temperatur in \u00B0C\r\n"), std::string::npos);

    auto again = std::make_unique<CUnit>();
    ASSERT_EQ(ReadRecipe(*again, dir.File("out.12")), RecipeResult::Loaded);
    EXPECT_EQ(again->GetComment(), unit->GetComment());
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}

// A file that says a value unclearly (not a whole number, a line cut short,
// a key given twice) is no recipe in either state, the record untouched, and
// the reason names the line.
TEST(Recipe, ADamagedFileIsNoRecipeAndTheReasonNamesItsLine)
{
    TestDir dir;
    const std::string head = "[HEADER]\r\nID=VORLENT_RECIPE\r\n[UNIT]\r\nAZ-Number=12\r\n[GLOBAL_PARAMETERS]\r\n"
                             "01=250 - Setpoint\r\n[ZONE_PARAMETERS]\r\nDescr.=   Act   Set   P01   P02\r\n"
                             "Zone01=    23   180     5  1200\r\n";  // lines 1 to 9
    struct Row
    {
        const char* what;
        std::string file;  // written into dir, or a data file's path
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"set value 1x2", head + "Zone02=    21   1x2     5  1200\r\n", "line 10: the set value of zone 2"},
        {"parameter blank", head + "Zone02=    21   175        1200\r\n", "line 10: P01 of zone 2"},
        {"line cut at a column", head + "Zone02=    21   175     5\r\n", "line 10: zone 2 has 3 columns"},
        {"first line cut short", head.substr(0, head.size() - 8) + "\r\n", "line 9: zone 1 has 3 columns"},
        {"Zone06 twice", head + "Zone01=    23   181     5  1200\r\n", "line 10: the key Zone01 is given a second time (first at line 9)"},
        {"key in another case", head + "zone01=    23   181     5  1200\r\n", "line 10: the key zone01"},
        {"section twice", head + "[unit]\r\nAZ-Number=12\r\n", "line 10: the section [unit] is given a second time (first at line 3)"},
        {"global 1x2", Replaced(head, "250 - Setpoint", "1x2 - Setpoint"), "line 6: global parameter 01 '1x2 - Setpoint'"},
        {"AZ number 12b", Replaced(head, "=12", "=12b"), "line 4: AZ-Number '12b'"},
        {"missing file", "", "there is no such file"},
        {"data: global abc", Data("global_values.rcp"), "line 7: global parameter 02 'abc'"},
        {"data: zone line short", Data("zone_lines_trimmed_and_ragged.rcp"), "line 8: zone 3 has 2 columns"},
        {"data: comment twice", Data("profile_rules.rcp"), "line 5: the key Comment"},
        {"data: selected, short", Data("selected_same_az.rcp"), "line 14: zone 2 has 3 columns"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string path = row.file;
        if (row.file.empty())
            path = dir.File("none.12");
        else if (row.file.rfind("[HEADER]", 0) == 0)
            path = dir.File("damaged.12"), dir.Write("damaged.12", row.file);
        for (bool bOffline : {true, false}) {
            auto unit = SmallUnit();
            unit->SetOffline(bOffline);
            const Snapshot before = Take(*unit);
            std::string problem;
            EXPECT_EQ(ReadRecipe(*unit, path, &problem), RecipeResult::NotARecipe);
            EXPECT_EQ(problem.rfind(row.reason, 0), 0u) << problem;
            EXPECT_EQ(Take(*unit), before);
        }
    }
}
