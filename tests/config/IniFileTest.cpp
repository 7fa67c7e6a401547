#include <gtest/gtest.h>

#include <climits>

#include "config/IniFile.h"
#include "platform/ProfileFile.h"
#include "TestDir.h"

TEST(IniFile, EscapeScheme)
{
    TestDir dir;
    CIniFile ini(dir.File("recipe.rcp"), true);
    const struct { const char *value, *stored; } cases[] = {
        {"C:\\data\\new", "C:\\\\data\\\\new"},
        {"first line\r\nsecond line", "first line\\r\\nsecond line"},
        {"trailing\\", "trailing\\\\"},
        {"\\", "\\\\"},
    };
    for (const auto& c : cases) {
        ini.SetValue(c.value);
        ASSERT_TRUE(ini.WriteString("Comment", "Text"));
        EXPECT_EQ(platform::GetProfileString("Comment", "Text", "", ini.GetPath()), c.stored);
        ini.SetValue("");
        ini.ReadString("Comment", "Text");
        EXPECT_EQ(ini.GetValue(), c.value);
    }

    // Text written by hand: a backslash before anything else stands for itself.
    dir.CopyData("ini/backslash_kept.ini", "kept.ini");
    CIniFile kept(dir.File("kept.ini"), true);
    const struct { const char *key, *value; } stored[] = {
        {"Path", "C:\\temp\\x"}, {"Trailing", "ends with\\"}, {"Mixed", "a\\b\nc\rd\\q"}, {"Double", "\\\n"}};
    for (const auto& s : stored) {
        kept.ReadString("Comment", s.key);
        EXPECT_EQ(kept.GetValue(), s.value) << s.key;
    }
}

TEST(IniFile, ReadCreatesNothing)
{
    TestDir dir;
    CIniFile ini("CONFIG.INI", false);
    ini.SetValue("stale");
    EXPECT_TRUE(ini.ReadString("General", "Language"));
    EXPECT_EQ(ini.GetValue(), "");
    EXPECT_FALSE(dir.Exists("CONFIG.INI"));

    dir.Write("CONFIG.INI", "[General]\nLanguage=Deutsch.lng\n");  // a bare name lives in the program directory
    ini.ReadString("General", "Language");
    EXPECT_EQ(ini.GetValue(), "Deutsch.lng");
}

TEST(IniFile, RewrittenKeyMovesToEndOfSection)
{
    TestDir dir;
    dir.CopyData("ini/first_key_rewritten.ini", "CONFIG.INI");
    CIniFile ini("CONFIG.INI", false);
    ini.SetValue("4");
    ASSERT_TRUE(ini.WriteString("settings", "PORT"));
    ini.SetValue("x");
    ASSERT_TRUE(ini.WriteString("Added", "Key"));
    EXPECT_EQ(dir.Read("CONFIG.INI"),
              "[Settings]\r\nBaud=9600\r\nLanguage=English.lng\r\nPORT=4\r\n\r\n[Other]\r\nPort=7\r\n"
              "[Added]\r\nKey=x\r\n");
}

// The read would cut anything longer than 1023 encoded characters.
TEST(IniFile, EncodedValueLimit)
{
    TestDir dir;
    dir.CopyData("ini/first_key_rewritten.ini", "CONFIG.INI");
    const std::string original = dir.Read("CONFIG.INI");
    CIniFile ini("CONFIG.INI", false);
    for (const std::string& tooLong : {std::string(1022, 'a') + "\n", std::string(1024, 'a')}) {
        ini.SetValue(tooLong);
        EXPECT_FALSE(ini.WriteString("Settings", "Port"));
    }
    EXPECT_EQ(dir.Read("CONFIG.INI"), original);

    const std::string longest(platform::kProfileValueMax, 'a');
    ini.SetValue(longest);
    ASSERT_TRUE(ini.WriteString("Settings", "Port"));
    ini.ReadString("Settings", "Port");
    EXPECT_EQ(ini.GetValue(), longest);
}

TEST(IniFile, ToNumber)
{
    const struct { const char* text; long expected; } cases[] = {
        {"42", 42}, {"  -17x", -17}, {"+8", 8}, {"\t 12 34", 12}, {"007", 7}, {"", 0}, {"abc", 0},
        {"- 5", 0}, {"0x1F", 0}, {"99999999999999999999", LONG_MAX}, {"-99999999999999999999", LONG_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToNumber(c.text), c.expected) << '"' << c.text << '"';
}
