// The Windows side of the platform layer, under wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestDir.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"
#include "platform/SerialDevice.h"
#include "platform/SerialPorts.h"

namespace fs = std::filesystem;

TEST(Win32Platform, PortNumbersNameComPortsUpTo255)
{
    const struct
    {
        int number;
        const char* path;
    } rows[] = {{0, ""}, {1, "\\\\.\\COM1"}, {16, "\\\\.\\COM16"}, {255, "\\\\.\\COM255"}, {256, ""}};
    for (const auto& row : rows)
        EXPECT_EQ(platform::BuiltInDevicePathForPort(row.number), row.path) << row.number;
}

TEST(Win32Platform, UserFoldersUnderAppData)
{
    TestDir dir(false);
    _putenv_s("APPDATA", (dir.Path() + "\\Roaming").c_str());
    _putenv_s("LOCALAPPDATA", (dir.Path() + "\\Local").c_str());
    EXPECT_EQ(platform::DefaultUserProgramDirectory(), dir.Path() + "\\Roaming\\Vorlent");
    EXPECT_EQ(platform::DefaultUserDataDirectory(), dir.Path() + "\\Local\\Vorlent");

    std::string error;
    ASSERT_TRUE(platform::MakeDirectories(platform::DefaultUserProgramDirectory() + "\\a\\b", error)) << error;
    EXPECT_TRUE(fs::is_directory(dir.Path() + "/Roaming/Vorlent/a/b"));
}

// File names are UTF-16 on Windows: a name beyond the ANSI code page must
// be written, found and replaced under exactly that name.
TEST(Win32Platform, UnicodeFileNamesSurviveAtomicReplace)
{
    TestDir dir(false);
    const std::string name = dir.Path() + "/Pr\xC3\xBC" "fstand \xCE\xA9 \xE6\xB8\xA9.ini";
    ASSERT_TRUE(platform::WriteProfileString("Line", "Baud", "19200", name));
    ASSERT_TRUE(platform::WriteProfileString("Line", "Baud", "115200", name));
    EXPECT_EQ(platform::GetProfileString("Line", "Baud", "", name), "115200");
    EXPECT_TRUE(fs::exists(fs::path(std::u8string(reinterpret_cast<const char8_t*>(name.c_str())))));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(Win32Platform, MissingPortIsNotFoundAndClosedStaysClosed)
{
    platform::SerialDevice port;
    EXPECT_FALSE(port.Open("COM254", platform::SerialSettings{}));
    EXPECT_EQ(port.GetError(), platform::SerialError::NotFound) << port.GetErrorText();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());
}
