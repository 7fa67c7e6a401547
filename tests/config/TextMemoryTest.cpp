#include "config/TextMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <regex>
#include <span>
#include <set>
#include <stdexcept>

#include "TestDir.h"
#include "monitor/qt/MonitorTexts.h"

namespace {

// A program directory holding the named files of tests/data/lng.
struct LngDir
{
    TestDir dir;
    explicit LngDir(std::initializer_list<std::string> names)
    {
        for (const auto& name : names)
            dir.CopyData("lng/" + name, name);
    }
};

}  // namespace

TEST(TextMemoryLastIndex, DecidesHowManyTextsLoad)
{
    struct Case
    {
        const char* file;
        int count;
        std::string text0;
    };
    const Case cases[] = {
        {"lastindex_missing.lng", 1, "Only title"},
        {"lastindex_not_a_number.lng", 1, "Only title"},
        {"lastindex_above_9999.lng", 10000, "Huge title"},
        {"lastindex_75_without_041_with_076.lng", 76, "Text 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        LngDir d({c.file});
        CTextMemory store;
        EXPECT_TRUE(store.Load(c.file));
        EXPECT_EQ(store.GetTextCount(), c.count);
        EXPECT_EQ(store.GetText(0), c.text0);
    }

    LngDir d({"lastindex_above_9999.lng", "lastindex_75_without_041_with_076.lng"});
    CTextMemory store;
    ASSERT_TRUE(store.Load("lastindex_above_9999.lng"));
    EXPECT_EQ(store.GetText(9999), "Last loaded");
    EXPECT_THROW(store.GetText(10000), std::invalid_argument);

    ASSERT_TRUE(store.Load("lastindex_75_without_041_with_076.lng"));
    EXPECT_EQ(store.GetText(40), "Text 40");
    EXPECT_EQ(store.GetText(41), "");
    EXPECT_EQ(store.GetText(42), "Text 42");
    EXPECT_EQ(store.GetText(75), "Text 75");
    EXPECT_THROW(store.GetText(76), std::invalid_argument);
}

TEST(TextMemoryLastIndex, NegativeChangesNothing)
{
    LngDir d({"replace_first.lng", "lastindex_minus_one.lng", "lastindex_negative.lng"});
    CTextMemory store;
    ASSERT_TRUE(store.Load("replace_first.lng"));
    const std::string* text3 = &store.GetText(3);

    for (const char* file : {"lastindex_minus_one.lng", "lastindex_negative.lng"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(store.Load(file));
        EXPECT_EQ(store.GetLanguageName(), "First");
        EXPECT_EQ(store.GetDatePattern(), "%d/%m");
        EXPECT_EQ(store.GetTimePattern(), "%H");
        EXPECT_EQ(store.GetFileName(), "replace_first.lng");
        EXPECT_EQ(store.GetTextCount(), 6);
        EXPECT_EQ(&store.GetText(3), text3);
        EXPECT_EQ(*text3, "First 3");
    }

    CTextMemory fresh;
    EXPECT_FALSE(fresh.Load("lastindex_minus_one.lng"));
    EXPECT_EQ(fresh.GetTextCount(), 0);
    EXPECT_EQ(fresh.GetFileName(), "");
}

TEST(TextMemoryLoad, NoLanguageFileGivesOneEmptyText)
{
    LngDir d({"no_general_section.lng"});
    for (const char* file : {"no_general_section.lng", "does_not_exist.lng"}) {
        SCOPED_TRACE(file);
        CTextMemory store;
        EXPECT_TRUE(store.Load(file));
        EXPECT_EQ(store.GetTextCount(), 1);
        EXPECT_EQ(store.GetText(0), "");
        EXPECT_EQ(store.GetLanguageName(), "");
        EXPECT_EQ(store.GetDatePattern(), "");
        EXPECT_EQ(store.GetTimePattern(), "");
        EXPECT_EQ(store.GetFileName(), file);
    }
    EXPECT_FALSE(d.dir.Exists("does_not_exist.lng"));
}

TEST(TextMemoryLoad, SecondLoadReplacesEverything)
{
    LngDir d({"replace_first.lng", "replace_second.lng"});
    CTextMemory store;
    ASSERT_TRUE(store.Load("replace_first.lng"));
    EXPECT_EQ(store.GetText(0), "First 0");
    EXPECT_EQ(store.GetText(5), "First 5");

    ASSERT_TRUE(store.Load("replace_second.lng"));
    EXPECT_EQ(store.GetText(0), "Second title");
    EXPECT_EQ(store.GetText(1), "Second 1");
    EXPECT_EQ(store.GetText(2), "");
    EXPECT_EQ(store.GetTextCount(), 3);
    EXPECT_THROW(store.GetText(5), std::invalid_argument);
    EXPECT_EQ(store.GetLanguageName(), "Second");
    EXPECT_EQ(store.GetDatePattern(), "%Y");
    EXPECT_EQ(store.GetTimePattern(), "%M");
    EXPECT_EQ(store.GetFileName(), "replace_second.lng");

    // A vanished file still replaces the old texts, with an empty store.
    ASSERT_TRUE(store.Load("gone.lng"));
    EXPECT_EQ(store.GetTextCount(), 1);
    EXPECT_EQ(store.GetText(0), "");
    EXPECT_EQ(store.GetLanguageName(), "");
}

TEST(TextMemoryLoad, FollowsTheProfileRules)
{
    LngDir d({"escapes.lng", "names_ignore_case.lng", "value_after_first_equals.lng",
              "first_section_and_key_win.lng", "byte_order_mark.lng", "value_cut_at_1023.lng",
              "lf_line_ends.lng", "windows_1252.lng"});
    CTextMemory store;

    ASSERT_TRUE(store.Load("escapes.lng"));
    EXPECT_EQ(store.GetText(1), "First line\nSecond line");
    EXPECT_EQ(store.GetText(2), "C:\\data\\new");
    EXPECT_EQ(store.GetText(3), "Carriage\rreturn");
    EXPECT_EQ(store.GetText(4), "Back\\slash\\tstays");
    EXPECT_EQ(store.GetText(5), "Trailing backslash\\");

    ASSERT_TRUE(store.Load("names_ignore_case.lng"));
    EXPECT_EQ(store.GetLanguageName(), "Mixed case");
    EXPECT_EQ(store.GetDatePattern(), "%Y");
    EXPECT_EQ(store.GetTimePattern(), "%H");
    EXPECT_EQ(store.GetTextCount(), 2);
    EXPECT_EQ(store.GetText(1), "Upper key");

    ASSERT_TRUE(store.Load("value_after_first_equals.lng"));
    EXPECT_EQ(store.GetText(0), "a = b");
    EXPECT_EQ(store.GetText(1), "");
    EXPECT_EQ(store.GetText(2), "x");
    EXPECT_EQ(store.GetText(3), "=leading equals");

    ASSERT_TRUE(store.Load("first_section_and_key_win.lng"));
    EXPECT_EQ(store.GetLanguageName(), "First");
    EXPECT_EQ(store.GetDatePattern(), "");
    EXPECT_EQ(store.GetTextCount(), 2);
    EXPECT_EQ(store.GetText(0), "first");
    EXPECT_EQ(store.GetText(1), "");

    ASSERT_TRUE(store.Load("byte_order_mark.lng"));
    EXPECT_EQ(store.GetLanguageName(), "Marked");
    EXPECT_EQ(store.GetText(0), "After the mark");

    // The cut comes before the decoding: an escape split by it stays a
    // backslash.
    ASSERT_TRUE(store.Load("value_cut_at_1023.lng"));
    EXPECT_EQ(store.GetText(0), std::string(1023, 'x'));
    EXPECT_EQ(store.GetText(1), std::string(1022, 'a') + "\\");

    ASSERT_TRUE(store.Load("lf_line_ends.lng"));
    EXPECT_EQ(store.GetLanguageName(), "Unix");
    EXPECT_EQ(store.GetText(1), "Last line without end");

    // Not valid UTF-8: the whole file is Windows-1252, and the store holds UTF-8.
    ASSERT_TRUE(store.Load("windows_1252.lng"));
    EXPECT_EQ(store.GetText(1), "\u00D6ffnen");
    EXPECT_EQ(store.GetText(2), "Gr\u00F6\u00DFe in \u00B0C");
    EXPECT_EQ(store.GetText(3), "\u201EZitat\u201C \u20AC");
}

TEST(TextMemoryGetText, OutsideTheListThrowsNamingNumberAndFile)
{
    CTextMemory empty;
    EXPECT_THROW(empty.GetText(0), std::invalid_argument);
    EXPECT_EQ(empty.GetTextOr(0, "fallback"), "fallback");

    LngDir d({"replace_second.lng"});
    CTextMemory store;
    ASSERT_TRUE(store.Load("replace_second.lng"));
    for (int n : {-1, 3, 76, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(n);
        try {
            store.GetText(n);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(std::to_string(n)), std::string::npos) << what;
            EXPECT_NE(what.find("replace_second.lng"), std::string::npos) << what;
        }
        EXPECT_EQ(store.GetTextOr(n, "fallback"), "fallback");
    }
    EXPECT_EQ(store.GetTextOr(1, "fallback"), "Second 1");
    // Within LastIndex but without a key: the fallback; a key with an empty
    // value stays empty.
    EXPECT_EQ(store.GetTextOr(2, "fallback"), "fallback");
    LngDir e({"value_after_first_equals.lng"});
    ASSERT_TRUE(store.Load("value_after_first_equals.lng"));
    EXPECT_EQ(store.GetTextOr(1, "fallback"), "");
}

namespace {

// The conversions of a text, as letters in order ("dd", "s"); "%%" counts
// as '%'. Anything after a '%' that is not a complete conversion shows as '?'.
std::string Conversions(const std::string& text)
{
    static const std::regex conv(R"(%(%|[-+ #0]*[0-9]*(\.[0-9]*)?([a-zA-Z])|))");
    std::string kinds;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conv); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        if (m[1] == "%")
            kinds += '%';
        else if (m[3].matched)
            kinds += m[3].str();
        else
            kinds += '?';
    }
    return kinds;
}

// The accelerator letter of a menu text, lower case; 0 when it has none.
char Accelerator(const std::string& text)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] != '&')
            return static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
        ++i;
    }
    return 0;
}

}  // namespace

TEST(ShippedLanguageFiles, DefineEveryTextInItsRole)
{
    // Texts used as patterns, with the conversions their callers supply.
    const std::map<int, std::string> patterns = {{22, "dd"}, {23, "s"}, {24, "s"}, {26, "s"}, {78, "dd"}, {79, "s"},
                                                 {80, "s"},  {81, "dd"}, {86, "dd"}, {87, "d"}, {88, "s"}, {89, "s"},
                                                 {90, "ss"}, {91, "d"}, {92, "dsddd"}, {94, "dsd"}, {95, "d"},
                                                 {96, "s"}, {97, "d"},  {98, "dd"}, {102, "d"}, {103, "ds"},
                                                 {107, "ss"}, {108, "ss"}, {109, "d"}, {111, "dd"}, {112, "ss"},
                                                 {113, "s"}, {118, "d"}, {120, "s"}, {154, "dd"}, {155, "d"}, {156, "ss"}, {184, "d"}, {187, "s"}, {188, "s"}};
    // Menus whose items share one accelerator space.
    const std::vector<std::vector<int>> menus = {
        {1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12, 105, 106}, {13}, {14, 15, 104}, {16, 17, 18, 19}, {20}};

    const std::pair<std::string, std::string> files[] = {{"English.lng", "English"}, {"Deutsch.lng", "Deutsch"}};
    for (const auto& [file, language] : files) {
        SCOPED_TRACE(file);
        TestDir dir;
        dir.CopyResource(file);
        const std::string raw = dir.Read(file);
        ASSERT_FALSE(raw.empty());
        EXPECT_FALSE(std::regex_search(raw, std::regex("[^\r]\n"))) << "line ends are CR LF";

        CTextMemory store;
        ASSERT_TRUE(store.Load(file));
        EXPECT_EQ(store.GetLanguageName(), language);
        EXPECT_FALSE(store.GetDatePattern().empty());
        EXPECT_FALSE(store.GetTimePattern().empty());
        EXPECT_EQ(store.GetLocale(), language == "Deutsch" ? "de" : "en");
        ASSERT_EQ(store.GetTextCount(), 206);

        for (int n = 0; n <= 205; ++n) {
            // The live view's texts, 122..153 and 157..180, have a test of their own.
            if (n == 122)
                n = 154;
            if (n == 157)
                n = 181;
            SCOPED_TRACE("text " + std::to_string(n));
            const std::string& text = store.GetText(n);
            char key[16];
            std::snprintf(key, sizeof key, "%03d=", n);
            EXPECT_NE(raw.find(std::string("\n") + key), std::string::npos) << "key missing";
            if (n != 40 && n != 41) {
                EXPECT_FALSE(text.empty());
            }
            const auto it = patterns.find(n);
            EXPECT_EQ(Conversions(text), it == patterns.end() ? "" : it->second) << text;
            // Menu items and the two radio buttons of the interface dialog.
            const bool bAccelerated = (n >= 1 && n <= 20) || n == 61 || n == 64 || (n >= 104 && n <= 106) || n == 110 ||
                                      n == 182 || n == 203 || n == 205;
            EXPECT_EQ(Accelerator(text) != 0, bAccelerated) << text;
        }
        // The printout cuts the last two characters of text 24 off and puts
        // the maker's name there.
        EXPECT_EQ(store.GetText(24).substr(store.GetText(24).size() - 2), "%s");
        // The language menu finds the address behind text 57 by its first digit.
        EXPECT_EQ(store.GetText(57).find_first_of("0123456789"), std::string::npos);
        // '|' separates the entries of a file filter.
        EXPECT_EQ(store.GetText(54).find('|'), std::string::npos);
        EXPECT_EQ(store.GetText(55).find('|'), std::string::npos);

        for (const auto& menu : menus) {
            std::set<char> seen;
            for (int n : menu)
                EXPECT_TRUE(seen.insert(Accelerator(store.GetText(n))).second)
                    << "accelerator of text " << n << " used twice";
        }
    }
}

TEST(ShippedGlobalIni, DefinesTheSimulatedParameters)
{
    struct Def
    {
        const char* command;
        int minVal;
        int maxVal;
    };
    const Def expected[] = {
        {"TSOLL", 0, 500}, {"TMAX", 0, 600}, {"ALARM", 0, 100}, {"HYST", 0, 50},  {"RAMP", 0, 999},
        {"TIME", 0, 9999}, {"UNIT", 0, 1},   {"MODE", 0, 3},    {"ADDR", 0, 0},   {"BAUD", 0, 0},
        {"KP", 0, 999},    {"TN", 0, 9999},  {"TV", 0, 999},    {"OUTMAX", 0, 100},
    };
    const std::string raw = ReadWholeFile(std::string(VORLENT_RESOURCE_DIR) + "/GLOBAL.INI");
    ASSERT_FALSE(raw.empty());
    EXPECT_FALSE(std::regex_search(raw, std::regex("[^\r]\n")));

    // Every ']' must close a numbered header: the renumbering pass rewrites
    // the two characters before each one.
    const std::regex section(
        "\\[GLOBAL_PARAM_([0-9]{2})\\]\r\nDescription_d=([^\r\\]]+)\r\nDescription_e=([^\r\\]]+)\r\n"
        "MinVal=(-?[0-9]+)\r\nMaxVal=(-?[0-9]+)\r\nCommand=([A-Z]+)\r\n");
    std::size_t matched = 0;
    std::size_t k = 0;
    for (auto it = std::sregex_iterator(raw.begin(), raw.end(), section); it != std::sregex_iterator();
         ++it, ++k) {
        const std::smatch& m = *it;
        ASSERT_LT(k, std::size(expected));
        SCOPED_TRACE(expected[k].command);
        EXPECT_EQ(std::stoul(m[1]), k);
        EXPECT_NE(m[2], m[3]) << "German and English descriptions";
        EXPECT_EQ(std::stoi(m[4]), expected[k].minVal);
        EXPECT_EQ(std::stoi(m[5]), expected[k].maxVal);
        EXPECT_EQ(m[6], expected[k].command);
        matched += m.length();
    }
    EXPECT_EQ(k, std::size(expected));
    EXPECT_EQ(std::count(raw.begin(), raw.end(), ']'), static_cast<long>(std::size(expected)));
    // Nothing but the sections and blank lines between them.
    EXPECT_EQ(raw.size() - matched, 2 * (std::size(expected) - 1));
}

TEST(ShippedLanguageFiles, DefineTheLiveViewTextsWithTheBuiltInConversions)
{
    for (const char* file : {"English.lng", "Deutsch.lng"}) {
        SCOPED_TRACE(file);
        TestDir dir;
        dir.CopyResource(file);
        CTextMemory store;
        ASSERT_TRUE(store.Load(file));
        for (const std::span<const monitortext::Text> texts :
             {std::span<const monitortext::Text>(monitortext::kAll), std::span<const monitortext::Text>(monitortext::kAllFrom157)}) {
            int expected = texts.front().n;
            for (const monitortext::Text& text : texts) {
                SCOPED_TRACE("text " + std::to_string(text.n));
                EXPECT_EQ(text.n, expected++) << "numbered without gaps";
                EXPECT_LE(text.n, store.GetTextCount() - 1) << "within LastIndex";
                const std::string shipped = store.GetTextOr(text.n, "");
                EXPECT_FALSE(shipped.empty());
                EXPECT_EQ(Conversions(shipped), Conversions(text.english)) << shipped;
                EXPECT_EQ(Accelerator(shipped) != 0, Accelerator(text.english) != 0) << shipped;
            }
        }
    }
}
