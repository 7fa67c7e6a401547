// The user's own program directory of an installed copy.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TestDir.h"
#include "platform/ProgramDir.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(ProgramDir, UserDirectoryFollowsTheBaseDirectoryRules)
{
    struct Case
    {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"", "/home/anna", "/home/anna/.config/vorlent"},
        {"/srv/cfg", "/home/anna", "/srv/cfg/vorlent"},
        {"/srv/cfg/", "/home/anna/", "/srv/cfg/vorlent"},
        {"relative/cfg", "/home/anna", "/home/anna/.config/vorlent"},  // a relative value is ignored
        {"", "/", "/.config/vorlent"},
        {"", "", ""},
        {"", "not/absolute", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UserProgramDirectory(c.xdg, c.home), c.expected) << c.xdg << " | " << c.home;
}

TEST(ProgramDir, FillingCopiesWhatIsMissingAndNeverReplaces)
{
    TestDir shipped(false), base(false);
    shipped.Write("GLOBAL.INI", "[GLOBAL_PARAM_00]\r\nCommand=TSOLL\r\n");
    shipped.Write("English.lng", "shipped English");
    shipped.Write("Deutsch.lng", "shipped Deutsch");
    fs::create_directory(shipped.File("subdir"));

    const std::string dir = base.File("config/vorlent");
    std::string error;
    ASSERT_TRUE(FillUserDirectory(dir, shipped.Path(), error)) << error;
    EXPECT_EQ(ReadWholeFile(dir + "/English.lng"), "shipped English");
    EXPECT_EQ(ReadWholeFile(dir + "/GLOBAL.INI"), shipped.Read("GLOBAL.INI"));
    EXPECT_FALSE(fs::exists(dir + "/subdir"));
    struct stat info{};
    ASSERT_EQ(stat(base.File("config").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();

    // The user's edits, a deleted file brought back, and a link of their own.
    { std::ofstream(dir + "/GLOBAL.INI", std::ios::trunc) << "edited"; }
    fs::remove(dir + "/Deutsch.lng");
    fs::remove(dir + "/English.lng");
    fs::create_symlink("/nonexistent/English.lng", dir + "/English.lng");
    shipped.Write("CONFIG.INI", "[GENERAL]\r\n");
    ASSERT_TRUE(FillUserDirectory(dir, shipped.Path(), error)) << error;
    EXPECT_EQ(ReadWholeFile(dir + "/GLOBAL.INI"), "edited");
    EXPECT_EQ(ReadWholeFile(dir + "/Deutsch.lng"), "shipped Deutsch");
    EXPECT_TRUE(fs::is_symlink(dir + "/English.lng"));
    EXPECT_EQ(ReadWholeFile(dir + "/CONFIG.INI"), "[GENERAL]\r\n");
}

TEST(ProgramDir, FillingReportsWhatItCannotDo)
{
    TestDir shipped(false), base(false);
    shipped.Write("English.lng", "x");
    std::string error;
    base.Write("file", "");
    EXPECT_FALSE(FillUserDirectory(base.File("file/vorlent"), shipped.Path(), error));
    EXPECT_NE(error.find("file"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(FillUserDirectory(base.File("empty"), "", error));
    EXPECT_TRUE(fs::is_directory(base.File("empty")));
    EXPECT_FALSE(error.empty());
}
