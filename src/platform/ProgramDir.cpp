#include "platform/ProgramDir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string g_strOverride;

std::string WithoutTrailingSlash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

struct DefaultDirectory
{
    std::string path;
    ProgramDirSource source = ProgramDirSource::Executable;
};

DefaultDirectory ChooseDefault()
{
    DefaultDirectory result;
    const std::string exeDir = ExecutableDirectory();
    std::error_code ec;
    if (fs::is_regular_file(exeDir + "/GLOBAL.INI", ec)) {
        result.path = exeDir;
        return result;
    }
    result.path = DefaultUserProgramDirectory();
    result.source = ProgramDirSource::User;
    if (result.path.empty()) {
        // No home at all: the executable's directory is all there is.
        result.path = exeDir;
        result.source = ProgramDirSource::Executable;
        return result;
    }
    std::string error;
    const std::string shipped = ShippedDataDirectory();
    if (!FillUserDirectory(result.path, shipped, error))
        // Reported once here, where every program passes; what follows
        // (no language file, no definitions) has its own messages.
        std::fprintf(stderr, "vorlent: the program directory %s is incomplete: %s\n", result.path.c_str(),
                     error.c_str());
    return result;
}

// Decided once per process: the directory is created and filled at most once.
const DefaultDirectory& Default()
{
    static const DefaultDirectory chosen = ChooseDefault();
    return chosen;
}

}  // namespace

std::string UserBaseDirectory(const std::string& xdgValue, const std::string& home, const std::string& underHome)
{
    // The base directory rules ignore a relative value.
    if (!xdgValue.empty() && xdgValue[0] == '/')
        return WithoutTrailingSlash(xdgValue) + "/vorlent";
    if (!home.empty() && home[0] == '/')
        return (home == "/" ? "" : WithoutTrailingSlash(home)) + "/" + underHome + "/vorlent";
    return {};
}

std::string UserProgramDirectory(const std::string& xdgConfigHome, const std::string& home)
{
    return UserBaseDirectory(xdgConfigHome, home, ".config");
}

bool FillUserDirectory(const std::string& dir, const std::string& shippedDir, std::string& error)
{
    if (!MakeDirectories(dir, error))
        return false;
    if (shippedDir.empty()) {
        error = "the program's shipped files were not found";
        return false;
    }
    std::error_code ec;
    fs::directory_iterator it(shippedDir, ec);
    if (ec) {
        error = "cannot list " + shippedDir + ": " + ec.message();
        return false;
    }
    bool bOk = true;
    for (const auto& entry : it) {
        if (!entry.is_regular_file(ec))
            continue;
        const std::string target = dir + "/" + entry.path().filename().string();
        // A dangling link or anything else of the user's under that name is
        // theirs too.
        if (fs::symlink_status(target, ec).type() != fs::file_type::not_found)
            continue;
        std::string problem;
        if (!CopyFileIfMissing(entry.path().string(), target, problem)) {
            if (bOk)
                error = problem;
            bOk = false;
        }
    }
    return bOk;
}

namespace {

// The directory in use and the rule that chose it, in the rules' order.
DefaultDirectory Choose()
{
    if (!g_strOverride.empty())
        return {g_strOverride, ProgramDirSource::Override};
    const char* home = std::getenv("VORLENT_HOME");
    if (home && *home)
        return {WithoutTrailingSlash(home), ProgramDirSource::Environment};
    return Default();
}

}  // namespace

std::string ProgramDirectory() { return Choose().path; }

ProgramDirSource ProgramDirectorySource() { return Choose().source; }

const char* ProgramDirSourceName(ProgramDirSource source)
{
    switch (source) {
    case ProgramDirSource::Override:
        return "--home";
    case ProgramDirSource::Environment:
        return "VORLENT_HOME";
    case ProgramDirSource::Executable:
        return "beside the program";
    case ProgramDirSource::User:
        return "the user's own";
    }
    return "";
}

void SetProgramDirectory(const std::string& dir) { g_strOverride = WithoutTrailingSlash(dir); }

std::string ProgramFile(const std::string& name) { return ProgramDirectory() + "/" + name; }

}  // namespace platform
