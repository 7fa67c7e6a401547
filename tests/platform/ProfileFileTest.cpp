#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"
#include "TestDir.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(ProfileFile, LookupRules)
{
    TestDir dir;
    for (const std::string name : {"names_any_case.ini", "values_trimmed.ini", "lf_only_lines.ini"})
        dir.CopyData("ini/" + name, name);
    const struct { const char *file, *section, *key, *expected; } cases[] = {
        {"names_any_case.ini", "general", "LANGUAGE", "English.lng"},
        {"names_any_case.ini", "Ports", "com3", "/dev/ttyUSB0"},
        {"values_trimmed.ini", "Values", "Padded", "two  words"},
        {"values_trimmed.ini", "Values", "Empty", ""},
        {"values_trimmed.ini", "Values", "Equals", "a=b"},
        {"lf_only_lines.ini", "Texts", "Shown", "yes"},      // padded header; the first section counts
        {"lf_only_lines.ini", "Texts", "Hidden", "-"},       // comments are not keys
        {"lf_only_lines.ini", "Texts", "Stray", "-"},        // nor are lines before any section
        {"missing.ini", "Texts", "Shown", "-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetProfileString(c.section, c.key, "-", dir.File(c.file)), c.expected) << c.file << " " << c.key;
    EXPECT_FALSE(dir.Exists("missing.ini"));

    dir.Write("long.ini", "[S]\r\nK=" + std::string(1500, 'x') + "\r\n");
    EXPECT_EQ(GetProfileString("S", "K", "", dir.File("long.ini")), std::string(kProfileValueMax, 'x'));
}

// Each edit changes the one line it concerns; every other byte stays.
TEST(ProfileFile, WriteTouchesOnlyItsLine)
{
    TestDir dir;
    dir.CopyData("ini/untouched_lines.ini", "in.ini");
    const std::string original = dir.Read("in.ini"), path = dir.File("in.ini");
    const struct { std::function<bool()> edit; std::string from, to; } cases[] = {
        {[&] { return WriteProfileString("main", "BETA", "5", path); }, "  beta=2   \r\n", "BETA=5\r\n"},
        {[&] { return WriteProfileString("Main", "Delta", "4", path); }, "beta=2   \r\n", "beta=2   \r\nDelta=4\r\n"},
        {[&] { return WriteProfileStringLast("Main", "alpha", "7", path); }, "Alpha = 1\n  beta=2   \r\n",
         "  beta=2   \r\nalpha=7\r\n"},
        {[&] { return WriteProfileString("Empty", "K", "1", path); }, "[Empty]\r\n", "[Empty]\r\nK=1\r\n"},
        {[&] { return WriteProfileString("Last", "Omega", "9", path); }, "Gamma=3", "Gamma=3\r\nOmega=9\r\n"},
        {[&] { return WriteProfileString("New", "Key", "v", path); }, "Gamma=3", "Gamma=3\r\n[New]\r\nKey=v\r\n"},
        {[&] { return DeleteProfileKey("MAIN", "alpha", path); }, "Alpha = 1\n", ""},
        {[&] { return DeleteProfileKey("Main", "Absent", path); }, "", ""},
    };
    for (const auto& c : cases) {
        dir.Write("in.ini", original);
        std::string expected = original;
        EXPECT_TRUE(c.edit());
        EXPECT_EQ(dir.Read("in.ini"), expected.replace(expected.find(c.from), c.from.size(), c.to)) << c.to;
    }

    EXPECT_TRUE(DeleteProfileKey("S", "K", dir.File("new.ini")));
    EXPECT_FALSE(dir.Exists("new.ini"));
    EXPECT_TRUE(WriteProfileString("S", "K", "v", dir.File("new.ini")));
    EXPECT_EQ(dir.Read("new.ini"), "[S]\r\nK=v\r\n");
}

TEST(ProfileFile, RefusedOrInterruptedWriteLeavesFileWhole)
{
    TestDir dir;
    dir.CopyData("ini/untouched_lines.ini", "in.ini");
    const std::string original = dir.Read("in.ini"), path = dir.File("in.ini");
    EXPECT_FALSE(WriteProfileString("Main", "Alpha", "1\r\nInjected=1", path));
    EXPECT_FALSE(WriteProfileString("Main", "a=b", "1", path));
    EXPECT_FALSE(WriteProfileString("Main", " Alpha", "1", path));  // would never be found again
    EXPECT_FALSE(WriteProfileString("S", "K", "v", dir.File("no/such/dir.ini")));

    SetProfileFailBeforeRename(true);
    EXPECT_FALSE(WriteProfileString("Main", "Alpha", "2", path));
    EXPECT_FALSE(DeleteProfileKey("Main", "Alpha", path));
    SetProfileFailBeforeRename(false);
    EXPECT_EQ(dir.Read("in.ini"), original);

    // No write bit: refused even for root, whom access() lets through.
    chmod(path.c_str(), 0444);
    EXPECT_FALSE(WriteProfileStringLast("Main", "Alpha", "2", path));
    EXPECT_FALSE(DeleteProfileKey("Main", "Absent", path));
    EXPECT_EQ(dir.Read("in.ini"), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1) << "a sibling was left behind";
}

TEST(ProfileFile, RewriteKeepsModeAndLinks)
{
    TestDir dir;
    dir.Write("shared.ini", "[S]\r\nK=1\r\n");
    chmod(dir.File("shared.ini").c_str(), 0640);
    fs::create_symlink(dir.File("shared.ini"), dir.File("link.ini"));
    ASSERT_TRUE(WriteProfileString("S", "K", "2", dir.File("link.ini")));
    EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Read("shared.ini"), "[S]\r\nK=2\r\n");
    EXPECT_EQ(fs::status(dir.File("shared.ini")).permissions(), fs::perms(0640));

    const mode_t old = umask(022);
    EXPECT_TRUE(WriteProfileString("S", "K", "1", dir.File("fresh.ini")));
    umask(old);
    EXPECT_EQ(fs::status(dir.File("fresh.ini")).permissions(), fs::perms(0644));
}

TEST(ProgramDir, HomeVariableThenExecutableDirectory)
{
    const char* saved = std::getenv("VORLENT_HOME");
    const std::string savedHome = saved ? saved : "";
    const std::string exeDir = fs::canonical(program_invocation_name).parent_path().string();
    SetProgramDirectory("");
    unsetenv("VORLENT_HOME");
    EXPECT_EQ(ProgramDirectory(), exeDir);
    setenv("VORLENT_HOME", "", 1);
    EXPECT_EQ(ProgramDirectory(), exeDir);
    setenv("VORLENT_HOME", "/srv/vorlent//", 1);
    EXPECT_EQ(ProgramFile("CONFIG.INI"), "/srv/vorlent/CONFIG.INI");
    SetProgramDirectory("/opt/bench");
    EXPECT_EQ(ProgramDirectory(), "/opt/bench");
    SetProgramDirectory("");
    saved ? setenv("VORLENT_HOME", savedHome.c_str(), 1) : unsetenv("VORLENT_HOME");
}
