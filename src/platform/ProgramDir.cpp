#include "platform/ProgramDir.h"

#include <cstdlib>
#include <filesystem>

namespace platform {
namespace {

std::string g_strOverride;

std::string WithoutTrailingSlash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string ExecutableDirectory()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    // Without /proc (a chroot) the working directory is the best guess left.
    return ec ? std::string(".") : exe.parent_path().string();
}

}  // namespace

std::string ProgramDirectory()
{
    if (!g_strOverride.empty())
        return g_strOverride;
    const char* home = std::getenv("VORLENT_HOME");
    if (home && *home)
        return WithoutTrailingSlash(home);
    return ExecutableDirectory();
}

void SetProgramDirectory(const std::string& dir) { g_strOverride = WithoutTrailingSlash(dir); }

std::string ProgramFile(const std::string& name) { return ProgramDirectory() + "/" + name; }

}  // namespace platform
