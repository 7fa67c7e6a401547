#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"
#include "TestDir.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(ProfileFile, LookupRules)
{
    TestDir dir;
    for (const std::string name : {"names_any_case.ini", "values_trimmed.ini", "lf_only_lines.ini",
                                   "byte_order_mark.ini", "lone_cr_line_ends.ini", "windows_1252.ini"})
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
        {"byte_order_mark.ini", "GENERAL", "AnzPar", "3"},       // the mark is no part of the header
        {"lone_cr_line_ends.ini", "COM_PORT", "Port", "3"},
        {"lone_cr_line_ends.ini", "GENERAL", "Port", "-"},
        {"windows_1252.ini", "general", "Ort", "K\u00F6ln \u20AC"},  // 8-bit text reads as UTF-8
        {"windows_1252.ini", "GENERAL", "Language", "DEUTSCH"},
    };
    for (const auto& c : cases) {
        // Every reader sees a file the same way.
        EXPECT_EQ(GetProfileString(c.section, c.key, "-", dir.File(c.file)), c.expected) << c.file << " " << c.key;
        EXPECT_EQ(ProfileIndex::FromFile(dir.File(c.file)).Value(c.section, c.key).value_or("-"), c.expected)
            << c.file << " " << c.key;
    }
    EXPECT_FALSE(dir.Exists("missing.ini"));

    dir.Write("long.ini", "[S]\r\nK=" + std::string(1500, 'x') + "\r\n");
    EXPECT_EQ(GetProfileString("S", "K", "", dir.File("long.ini")), std::string(kProfileValueMax, 'x'));
}

// Each edit changes the one line it concerns; every other byte stays.
TEST(ProfileFile, WriteTouchesOnlyItsLine)
{
    TestDir dir;
    const std::string path = dir.File("in.ini");
    const auto fromData = [](const std::string& name) { return ReadWholeFile(std::string(VORLENT_TEST_DATA) + "/ini/" + name); };
    const std::string original = fromData("untouched_lines.ini");
    const struct { std::function<bool()> edit; std::string from, to, file = "untouched_lines.ini"; } cases[] = {
        {[&] { return WriteProfileString("main", "BETA", "5", path); }, "  beta=2   \r\n", "BETA=5\r\n"},
        {[&] { return WriteProfileString("Main", "Delta", "4", path); }, "beta=2   \r\n", "beta=2   \r\nDelta=4\r\n"},
        {[&] { return WriteProfileStringLast("Main", "alpha", "7", path); }, "Alpha = 1\n  beta=2   \r\n",
         "  beta=2   \r\nalpha=7\r\n"},
        {[&] { return WriteProfileString("Empty", "K", "1", path); }, "[Empty]\r\n", "[Empty]\r\nK=1\r\n"},
        {[&] { return WriteProfileString("Last", "Omega", "9", path); }, "Gamma=3", "Gamma=3\r\nOmega=9\r\n"},
        {[&] { return WriteProfileString("New", "Key", "v", path); }, "Gamma=3", "Gamma=3\r\n[New]\r\nKey=v\r\n"},
        {[&] { return DeleteProfileKey("MAIN", "alpha", path); }, "Alpha = 1\n", ""},
        {[&] { return DeleteProfileKey("Main", "Absent", path); }, "", ""},
        // The mark stays where it was, before the first line.
        {[&] { return WriteProfileString("General", "AnzPar", "4", path); }, "AnzPar=3", "AnzPar=4",
         "byte_order_mark.ini"},
        {[&] { return WriteProfileString("Other", "K", "v", path); }, "\xEF\xBB\xBF[GENERAL]\r\nAnzPar=3\r\n",
         "\xEF\xBB\xBF[GENERAL]\r\nAnzPar=3\r\n[Other]\r\nK=v\r\n", "byte_order_mark.ini"},
        // A lone CR ends the last line: the key goes below the header, not onto it.
        {[&] { return WriteProfileString("GENERAL", "Language", "ENGLISH", path); }, "[GENERAL]\r",
         "[GENERAL]\rLanguage=ENGLISH\r\n", "lone_cr_line_ends.ini"},
        // ASCII into an 8-bit file keeps its bytes; other text makes it UTF-8.
        {[&] { return WriteProfileString("General", "Language", "ENGLISH", path); }, "DEUTSCH", "ENGLISH",
         "windows_1252.ini"},
        {[&] { return WriteProfileString("General", "Ort", "D\u00FCren", path); },
         "; Einstellungen f\xFCr Halle 2\r\n[GENERAL]\r\nLanguage=DEUTSCH\r\nOrt=K\xF6ln \x80\r\n",
         "; Einstellungen f\u00FCr Halle 2\r\n[GENERAL]\r\nLanguage=DEUTSCH\r\nOrt=D\u00FCren\r\n", "windows_1252.ini"},
    };
    for (const auto& c : cases) {
        const std::string before = fromData(c.file);
        dir.Write("in.ini", before);
        std::string expected = before;
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

    // A file that merely has the name a sibling once had is not the
    // program's to remove.
    chmod(path.c_str(), 0644);
    dir.Write("in.ini.tmp~", "someone else's");
    EXPECT_TRUE(WriteProfileString("Main", "Alpha", "2", path));
    EXPECT_EQ(dir.Read("in.ini.tmp~"), "someone else's");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
}

// A site that made only the file writable, not its directory: the file is
// rewritten in place, and only a file without a write bit is refused.
TEST(ProfileFile, ReadOnlyDirectoryRewritesTheFileInPlace)
{
    TestDir dir;
    dir.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=DEUTSCH\r\nAnzPar=12\r\n");
    dir.Write("locked.ini", "[S]\r\nK=1\r\n");
    const std::string path = dir.File("CONFIG.INI");
    ASSERT_EQ(chmod(dir.File("locked.ini").c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_TRUE(WriteProfileStringLast("GENERAL", "Language", "ENGLISH", path));
    EXPECT_TRUE(DeleteProfileKey("GENERAL", "AnzPar", path));
    EXPECT_FALSE(WriteProfileString("S", "K", "2", dir.File("locked.ini")));
    EXPECT_FALSE(WriteProfileString("S", "K", "2", dir.File("new.ini")));
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    EXPECT_EQ(dir.Read("CONFIG.INI"), "[GENERAL]\r\nLanguage=ENGLISH\r\n");
    EXPECT_EQ(GetProfileString("GENERAL", "Language", "", path), "ENGLISH");
    EXPECT_EQ(dir.Read("locked.ini"), "[S]\r\nK=1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
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

namespace {

// An environment variable set (or, with null, unset) for a scope.
struct ScopedVariable
{
    ScopedVariable(const char* name, const char* value) : name(name)
    {
        if (const char* old = std::getenv(name))
            saved = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { saved ? setenv(name, saved->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> saved;
};

}  // namespace

TEST(ProgramDir, HomeVariableThenExecutableDirectory)
{
    const std::string exeDir = fs::canonical(program_invocation_name).parent_path().string();
    // A build without its resources beside the program falls through to the
    // user's own directory, which the first look creates: in a home of the
    // test's, never the real one.
    const TestDir home(false);
    const ScopedVariable userHome("HOME", home.Path().c_str()), userConfig("XDG_CONFIG_HOME", nullptr),
        programHome("VORLENT_HOME", nullptr);
    SetProgramDirectory("");
    EXPECT_EQ(ProgramDirectory(), exeDir);
    EXPECT_FALSE(fs::exists(home.File(".config"))) << "the build's resources are missing beside " << exeDir;
    setenv("VORLENT_HOME", "", 1);
    EXPECT_EQ(ProgramDirectory(), exeDir);
    setenv("VORLENT_HOME", "/srv/vorlent//", 1);
    EXPECT_EQ(ProgramFile("CONFIG.INI"), "/srv/vorlent/CONFIG.INI");
    SetProgramDirectory("/opt/bench");
    EXPECT_EQ(ProgramDirectory(), "/opt/bench");
    SetProgramDirectory("");
}
