// GLOBAL.INI: renumbering and loading the catalogue; CONFIG.INI: the line
// settings, their defaults and the values written back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "config/Definitions.h"
#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "TestDir.h"
#include "unit/Unit.h"

namespace {

std::string Section(int n, const std::string& command)
{
    char header[32];
    std::snprintf(header, sizeof header, "[GLOBAL_PARAM_%02d]\r\n", n);
    return std::string(header) + "Description_d=D" + std::to_string(n) + "\r\nDescription_e=E" + std::to_string(n) +
           "\r\nMinVal=0\r\nMaxVal=100\r\nCommand=" + command + "\r\n";
}

std::string Setting(const std::string& path, const std::string& section, const std::string& key)
{
    return platform::GetProfileString(section, key, "<missing>", path);
}

}  // namespace

TEST(Definitions, RenumberingCountsHeadersInFileOrder)
{
    const char* cases[] = {
        "renumber_gap",                       // 00, 01, 03 -> 00, 01, 02
        "renumber_order",                     // 01, 00 -> 00, 01
        "renumber_brackets_outside_headers",  // ']' in values and comments, odd header names
        "renumber_header_spacing",            // blanks, LF-only lines, no final line end
        "renumber_byte_order_mark",           // the mark is no part of the first header
        "renumber_lone_cr_line_ends",         // a lone CR ends a line
        "renumber_only_its_own_headers",      // other sections keep their numbers, any case counts
        "windows_1252",                       // 8-bit text around the digits stays as it is
    };
    for (const char* name : cases) {
        SCOPED_TRACE(name);
        TestDir dir;
        dir.CopyData(std::string("defs/") + name + ".ini", "GLOBAL.INI");
        const std::string before = dir.Read("GLOBAL.INI");
        const std::string expected = ReadWholeFile(std::string(VORLENT_TEST_DATA) + "/defs/" + name + ".expected.ini");
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(RenumberDefinitionsFile(), 0);
        EXPECT_EQ(dir.Read("GLOBAL.INI"), expected);
        EXPECT_EQ(dir.Read("GLOBAL.INI").size(), before.size());
        // A second pass finds nothing left to change.
        ASSERT_EQ(RenumberDefinitionsFile(), 0);
        EXPECT_EQ(dir.Read("GLOBAL.INI"), expected);
    }
}

TEST(Definitions, RenumberingStopsAfterSection99)
{
    TestDir dir;
    std::string text;
    for (int i = 0; i < 101; ++i)
        text += "[GLOBAL_PARAM_55]\r\nCommand=P\r\n";
    dir.Write("GLOBAL.INI", text);
    ASSERT_EQ(RenumberDefinitionsFile(), 0);
    const std::string after = dir.Read("GLOBAL.INI");
    ASSERT_EQ(after.size(), text.size());
    const std::size_t block = std::string("[GLOBAL_PARAM_55]\r\nCommand=P\r\n").size();
    EXPECT_EQ(after.substr(0, 17), "[GLOBAL_PARAM_00]");
    EXPECT_EQ(after.substr(99 * block, 17), "[GLOBAL_PARAM_99]");
    EXPECT_EQ(after.substr(100 * block, 17), "[GLOBAL_PARAM_55]");
}

TEST(Definitions, RenumberingUsesTheProgramDirectoryAndNeedsAWritableFile)
{
    TestDir programDir;
    TestDir workDir(false);
    programDir.Write("GLOBAL.INI", "[GLOBAL_PARAM_03]\r\n");
    workDir.Write("GLOBAL.INI", "[GLOBAL_PARAM_07]\r\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(workDir.Path().c_str()), 0);
    const int result = RenumberDefinitionsFile();
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(programDir.Read("GLOBAL.INI"), "[GLOBAL_PARAM_00]\r\n");
    EXPECT_EQ(workDir.Read("GLOBAL.INI"), "[GLOBAL_PARAM_07]\r\n");

    TestDir empty;
    EXPECT_EQ(RenumberDefinitionsFile(), -1);
    EXPECT_FALSE(empty.Exists("GLOBAL.INI"));

    // A directory of that name cannot be opened for writing, not even by root.
    ASSERT_EQ(mkdir(empty.File("GLOBAL.INI").c_str(), 0755), 0);
    EXPECT_EQ(RenumberDefinitionsFile(), -1);

    // Nor is a file without a write bit renumbered, though root may open it;
    // it still loads.
    TestDir readOnly;
    readOnly.CopyData("defs/renumber_gap.ini", "GLOBAL.INI");
    const std::string before = readOnly.Read("GLOBAL.INI");
    ASSERT_EQ(chmod(readOnly.File("GLOBAL.INI").c_str(), 0444), 0);
    EXPECT_EQ(RenumberDefinitionsFile(), -1);
    EXPECT_EQ(readOnly.Read("GLOBAL.INI"), before);
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();
    EXPECT_EQ(unit->GetGlobalParamCount(), 2);
}

TEST(Definitions, LoadsTheRenumberedCatalogue)
{
    TestDir dir;
    dir.CopyData("defs/renumber_gap.ini", "GLOBAL.INI");
    ASSERT_EQ(RenumberDefinitionsFile(), 0);
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();
    ASSERT_TRUE(unit->HasDefinitions());
    ASSERT_EQ(unit->GetGlobalParamCount(), 3);
    const GlobalParamDef* third = unit->GetGlobalParamDef(3);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->pDescriptionD, "Alarm");
    EXPECT_EQ(third->pCommand, "PAL=");
    EXPECT_EQ(third->nMinVal, -50);
    EXPECT_EQ(third->nMaxVal, 50);
    EXPECT_EQ(third->nValue, -1);
    EXPECT_FALSE(third->bPresent);
    EXPECT_EQ(unit->GetParamMin(2), 1);
    EXPECT_EQ(unit->GetParamMax(2), 99);
    EXPECT_EQ(unit->GetGlobalParamDef(0), nullptr);
    EXPECT_EQ(unit->GetGlobalParamDef(4), nullptr);

    // In file order 01, 00 the section that stands first is parameter 1.
    dir.CopyData("defs/renumber_order.ini", "GLOBAL.INI");
    ASSERT_EQ(RenumberDefinitionsFile(), 0);
    unit->LoadDefinitions();
    ASSERT_EQ(unit->GetGlobalParamCount(), 2);
    EXPECT_EQ(unit->GetGlobalParamDef(1)->pCommand, "PFI=");

    // What editors and other programs leave in the file does not hide a
    // parameter, and 8-bit descriptions arrive as UTF-8.
    const struct { const char* file; int count; const char* firstCommand; } cases[] = {
        {"renumber_byte_order_mark", 2, "PA="},
        {"renumber_lone_cr_line_ends", 1, "PA="},
        {"renumber_only_its_own_headers", 2, "PA="},
        {"windows_1252", 1, "PT="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        dir.CopyData(std::string("defs/") + c.file + ".ini", "GLOBAL.INI");
        ASSERT_EQ(RenumberDefinitionsFile(), 0);
        unit->LoadDefinitions();
        ASSERT_EQ(unit->GetGlobalParamCount(), c.count);
        EXPECT_EQ(unit->GetGlobalParamDef(1)->pCommand, c.firstCommand);
    }
    EXPECT_EQ(unit->GetGlobalParamDef(1)->pDescriptionD, "Temperatur in \u00B0C f\u00FCr D\u00FCse");
    EXPECT_EQ(unit->GetGlobalParamDef(1)->pDescriptionE, "Temperature in \u00B0C");
}

TEST(Definitions, TheListEndsAtTheFirstSectionWithoutCommand)
{
    struct Case
    {
        const char* what;
        std::string text;
        int count;
    };
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += Section(i, "P" + std::to_string(i));
    const Case cases[] = {
        {"no file", "", 0},
        {"no Command in section 00", "[GLOBAL_PARAM_00]\r\nDescription_d=X\r\n", 0},
        {"more sections than the table holds", many, kMaxGlobalParams},
        {"a gap in the numbers", Section(0, "A") + Section(2, "C"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir dir;
        if (!c.text.empty())
            dir.Write("GLOBAL.INI", c.text);
        auto unit = std::make_unique<CUnit>();
        unit->LoadDefinitions();
        EXPECT_TRUE(unit->HasDefinitions());
        EXPECT_EQ(unit->GetGlobalParamCount(), c.count);
        // An empty catalogue is a loaded one: a receive reads zero globals.
        if (c.count == 0) {
            EXPECT_TRUE(unit->ReadGlobalParams());
        }
    }

    TestDir dir;
    dir.CopyData("defs/empty_command_ends_list.ini", "GLOBAL.INI");
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();
    ASSERT_EQ(unit->GetGlobalParamCount(), 1);
    EXPECT_EQ(unit->GetGlobalParamDef(1)->pCommand, "P1=");
}

TEST(Definitions, LimitsAreClampedTo16Bits)
{
    TestDir dir;
    dir.CopyData("defs/limits_clamped_to_16_bits.ini", "GLOBAL.INI");
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();
    ASSERT_EQ(unit->GetGlobalParamCount(), 3);
    EXPECT_EQ(unit->GetParamMin(1), -32768);  // -40000
    EXPECT_EQ(unit->GetParamMax(1), 32767);   // 70000
    EXPECT_EQ(unit->GetParamMin(2), 0);       // "abc"
    EXPECT_EQ(unit->GetParamMax(2), 12);      // "12 mm"
    EXPECT_EQ(unit->GetParamMin(3), -32768);  // beyond even a long
    EXPECT_EQ(unit->GetParamMax(3), 32767);
}

TEST(Definitions, LineSettingsAndTheirDefaults)
{
    struct Case
    {
        const char* lines;  // of [COM_PORT]
        int parity, dataBits, stopBits, timeout;
    };
    const Case cases[] = {
        {"", 0, 8, 0, 200},
        {"Parity=none\r\n", 0, 8, 0, 200},
        {"Parity=odd\r\n", 1, 8, 0, 200},
        {"Parity=even\r\n", 2, 8, 0, 200},
        {"Parity=mark\r\n", 3, 8, 0, 200},
        {"Parity=space\r\n", 4, 8, 0, 200},
        {"Parity=Even\r\n", 0, 8, 0, 200},
        {"Parity= odd \r\n", 1, 8, 0, 200},
        {"StopBits=1\r\n", 0, 8, 0, 200},
        {"StopBits=1.5\r\n", 0, 8, 1, 200},
        {"StopBits=2\r\n", 0, 8, 2, 200},
        {"StopBits=3\r\n", 0, 8, 0, 200},
        {"StopBits=257\r\n", 0, 8, 0, 200},
        {"StopBits=-254\r\n", 0, 8, 0, 200},
        {"StopBits=0\r\n", 0, 8, 0, 200},
        {"DataBits=0\r\n", 0, 8, 0, 200},
        {"DataBits=7\r\n", 0, 7, 0, 200},
        {"DataBits=5\r\n", 0, 5, 0, 200},
        {"DataBits=4\r\n", 0, 8, 0, 200},
        {"DataBits=9\r\n", 0, 8, 0, 200},
        {"DataBits=263\r\n", 0, 8, 0, 200},
        {"Timeout=0\r\n", 0, 8, 0, 200},
        {"Timeout=500\r\n", 0, 8, 0, 500},
        {"Timeout=32767\r\n", 0, 8, 0, 32767},
        {"Timeout=32768\r\n", 0, 8, 0, 200},
        {"Timeout=65537\r\n", 0, 8, 0, 200},
        {"Timeout=65737\r\n", 0, 8, 0, 200},
        {"Timeout=-65336\r\n", 0, 8, 0, 200},
        {"Timeout=-5\r\n", 0, 8, 0, 200},
        {"Timeout=abc\r\n", 0, 8, 0, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        TestDir dir;
        dir.Write("CONFIG.INI", std::string("[COM_PORT]\r\n") + c.lines);
        auto unit = std::make_unique<CUnit>();
        unit->LoadDefinitions();
        EXPECT_EQ(unit->GetParity(), c.parity);
        EXPECT_EQ(unit->GetDataBits(), c.dataBits);
        EXPECT_EQ(unit->GetStopBits(), c.stopBits);
        EXPECT_EQ(unit->GetTimeout(), c.timeout);
    }
}

TEST(Definitions, DefaultZoneParamCountAndItsWriteBack)
{
    struct Case
    {
        const char* stored;  // nullptr: no key
        int count;
        const char* after;   // the key afterwards
    };
    const Case cases[] = {
        {nullptr, 10, "10"}, {"0", 10, "10"}, {"none", 10, "10"}, {"12", 12, "12"},
        {"64", 64, "64"},    {"1", 1, "1"},   {"65", 10, "65"},   {"-3", 10, "-3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        TestDir dir;
        dir.Write("CONFIG.INI", std::string("[GENERAL]\r\nLanguage=ENGLISH\r\n") +
                                    (c.stored ? std::string("AnzPar=") + c.stored + "\r\n" : ""));
        auto unit = std::make_unique<CUnit>();
        unit->LoadDefinitions();
        EXPECT_EQ(unit->GetDefaultZoneParamCount(), c.count);
        EXPECT_EQ(Setting(dir.File("CONFIG.INI"), "GENERAL", "AnzPar"), c.after);
        EXPECT_EQ(Setting(dir.File("CONFIG.INI"), "GENERAL", "Language"), "ENGLISH");
    }

    // A leading byte-order mark hides no section; a last line ended by a
    // lone CR is a whole line, and the key written after it reads back clean.
    const struct { const char* file; int16_t port; int count; const char* after; } files[] = {
        {"byte_order_mark.ini", 0, 3, "\xEF\xBB\xBF[GENERAL]\r\nAnzPar=3\r\n"},
        {"lone_cr_line_ends.ini", 3, 10, "[COM_PORT]\r\nPort=3\r\n[GENERAL]\rAnzPar=10\r\n"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        TestDir dir;
        dir.CopyData(std::string("ini/") + f.file, "CONFIG.INI");
        auto unit = std::make_unique<CUnit>();
        unit->SetInterface(f.port, 0);
        unit->LoadDefinitions();
        EXPECT_EQ(unit->GetDefaultZoneParamCount(), f.count);
        EXPECT_EQ(dir.Read("CONFIG.INI"), f.after);
    }

    // Without a settings file the defaults hold and the file holds the count.
    TestDir dir;
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();
    EXPECT_EQ(dir.Read("CONFIG.INI"), "[GENERAL]\r\nAnzPar=10\r\n");
}

TEST(Definitions, PortAndBaudrateAreRememberedWhenChosen)
{
    struct Case
    {
        const char* what;
        int16_t port;
        int32_t baud;
        const char* port_after;
        const char* baud_after;
    };
    const Case cases[] = {
        {"offline after COM3", 0, 0, "0", "19200"},
        {"another port and rate", 5, 38400, "5", "38400"},
        {"the stored ones", 3, 19200, "3", "19200"},
    };
    const std::string stored = "[COM_PORT]\r\nPort=3\r\nBaudrate=19200\r\n[GENERAL]\r\nAnzPar=8\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDir dir;
        dir.Write("CONFIG.INI", stored);
        auto unit = std::make_unique<CUnit>();
        unit->SetInterface(c.port, c.baud);
        unit->LoadDefinitions();
        EXPECT_EQ(Setting(dir.File("CONFIG.INI"), "COM_PORT", "Port"), c.port_after);
        EXPECT_EQ(Setting(dir.File("CONFIG.INI"), "COM_PORT", "Baudrate"), c.baud_after);
        // The non-const GetPort is the link itself.
        EXPECT_EQ(unit->GetPort(), c.port);
        EXPECT_EQ(unit->GetBaudrate(), c.baud);
        if (c.port == 3) {
            EXPECT_EQ(dir.Read("CONFIG.INI"), stored);  // nothing to remember, nothing rewritten
        }
    }

    // Loading for a caller that writes none of the program's files.
    TestDir dir;
    auto unit = std::make_unique<CUnit>();
    unit->SetInterface(4, 9600);
    unit->LoadDefinitions(false);
    EXPECT_FALSE(dir.Exists("CONFIG.INI"));
    EXPECT_EQ(unit->GetDefaultZoneParamCount(), 10);
}

TEST(Definitions, DescriptionInTheActiveLanguage)
{
    TestDir dir;
    dir.Write("GLOBAL.INI", "[GLOBAL_PARAM_00]\r\nDescription_d=Sollwert\r\nDescription_e=Setpoint\r\nCommand=PSW\r\n");
    const auto language = [](const char* name) {
        return std::string("[GENERAL]\r\nLanguage=") + name + "\r\nLastIndex=0\r\n[TEXT]\r\n000=Title\r\n";
    };
    dir.Write("en.lng", language("English"));
    dir.Write("lower.lng", language("english"));
    dir.Write("de.lng", language("Deutsch"));
    auto unit = std::make_unique<CUnit>();
    unit->LoadDefinitions();

    const struct { const char* file; const char* description; } cases[] = {
        {"en.lng", "Setpoint"},
        {"lower.lng", "Sollwert"},
        {"de.lng", "Sollwert"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(TheTextMemory().Load(c.file));
        std::string text = "unchanged";
        unit->GetParamDescription(1, text);
        EXPECT_EQ(text, c.description);
        text = "unchanged";
        unit->GetParamDescription(0, text);
        EXPECT_EQ(text, "unchanged");
        unit->GetParamDescription(2, text);
        EXPECT_EQ(text, "unchanged");
    }
}
