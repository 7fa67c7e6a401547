// The platform layer's rules that hold alike on every system, run by the
// Linux build and, cross-built, under wine.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestDir.h"
#include "platform/FileReplace.h"
#include "platform/SerialPorts.h"

namespace fs = std::filesystem;

TEST(SerialPorts, WindowsPortNames)
{
    const struct
    {
        const char* name;
        int number;
    } rows[] = {
        {"COM7", 7},           {"com12", 12},     {"\\\\.\\COM255", 255}, {"\\\\.\\com3", 3},
        {"COM256", 0},         {"COM0", 0},       {"COM07", 0},           {"COM", 0},
        {"COM1a", 0},          {"XCOM7", 0},      {"/dev/ttyS0", 0},      {"\\\\?\\COM3", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(platform::PortNumberOfName(row.name), row.number) << row.name;
}

TEST(FileReplace, OldFileOrNewFileWholeAndNoSiblingLeft)
{
    TestDir dir(false);
    dir.Write("recipe.rcp", "old\r\n");
    const auto siblings = [&] {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            n += entry.path().filename() != "recipe.rcp";
        return n;
    };

    platform::FileToReplace file;
    ASSERT_TRUE(platform::InspectFileToReplace(dir.File("recipe.rcp"), file));
    EXPECT_TRUE(file.bExists);
    EXPECT_FALSE(platform::ReplaceFileContents(file, "new\r\n", false, true));
    EXPECT_EQ(dir.Read("recipe.rcp"), "old\r\n");
    EXPECT_EQ(siblings(), 0);

    ASSERT_TRUE(platform::ReplaceFileContents(file, "new\r\n", false, false));
    EXPECT_EQ(dir.Read("recipe.rcp"), "new\r\n");
    EXPECT_EQ(siblings(), 0);

    platform::FileToReplace fresh;
    ASSERT_TRUE(platform::InspectFileToReplace(dir.File("fresh.rcp"), fresh));
    EXPECT_FALSE(fresh.bExists);
    ASSERT_TRUE(platform::ReplaceFileContents(fresh, "x", false, false));
    EXPECT_EQ(dir.Read("fresh.rcp"), "x");

    platform::FileToReplace nowhere;
    EXPECT_FALSE(platform::InspectFileToReplace(dir.File("missing/recipe.rcp"), nowhere));
    platform::FileToReplace directory;
    EXPECT_FALSE(platform::InspectFileToReplace(dir.Path(), directory));
    EXPECT_EQ(platform::LoadWholeFile(dir.File("none.rcp")), std::optional<std::string>(""));
}
