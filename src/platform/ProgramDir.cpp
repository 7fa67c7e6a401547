#include "platform/ProgramDir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/Posix.h"

namespace fs = std::filesystem;

#ifndef VORLENT_DATA_DIR
#define VORLENT_DATA_DIR "/usr/share/vorlent"
#endif

namespace platform {
namespace {

std::string g_strOverride;

std::string WithoutTrailingSlash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string SystemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// Copies source to a hidden sibling of target and links it into place: link()
// never replaces, so a file the user has (or creates meanwhile) stays, and a
// half-written copy never carries the target's name.
bool CopyIfMissing(const std::string& source, const std::string& target, std::string& error)
{
    const UniqueFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        error = SystemError("cannot read " + source, errno);
        return false;
    }
    const fs::path targetPath(target);
    const std::string temp =
        (targetPath.parent_path() / ("." + targetPath.filename().string() + ".vorlent-copy")).string();
    unlink(temp.c_str());
    UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out) {
        error = SystemError("cannot write " + temp, errno);
        return false;
    }
    std::string bytes;
    bool bOk = true;
    if (!ReadToEnd(in.Get(), bytes)) {
        error = SystemError("cannot read " + source, errno);
        bOk = false;
    } else if (!WriteAll(out.Get(), bytes)) {
        error = SystemError("cannot write " + temp, errno);
        bOk = false;
    }
    if (!out.Close() && bOk) {
        error = SystemError("cannot write " + temp, errno);
        bOk = false;
    }
    if (bOk && link(temp.c_str(), target.c_str()) != 0 && errno != EEXIST) {
        error = SystemError("cannot create " + target, errno);
        bOk = false;
    }
    unlink(temp.c_str());
    return bOk;
}

struct DefaultDirectory
{
    std::string path;
    ProgramDirSource source = ProgramDirSource::Executable;
};

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    // A service started without HOME still has a passwd entry.
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

DefaultDirectory ChooseDefault()
{
    DefaultDirectory result;
    const std::string exeDir = ExecutableDirectory();
    std::error_code ec;
    if (fs::is_regular_file(exeDir + "/GLOBAL.INI", ec)) {
        result.path = exeDir;
        return result;
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    result.path = UserProgramDirectory(xdg ? xdg : "", HomeDirectory());
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

std::string ExecutableDirectory()
{
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    // Without /proc (a chroot) the working directory is the best guess left.
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string ShippedDataDirectory()
{
    std::error_code ec;
    const fs::path beside = fs::path(ExecutableDirectory()).parent_path() / "share" / "vorlent";
    if (fs::is_directory(beside, ec))
        return beside.lexically_normal().string();
    if (fs::is_directory(VORLENT_DATA_DIR, ec))
        return VORLENT_DATA_DIR;
    return {};
}

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

bool MakeDirectories(const std::string& dir, std::string& error)
{
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty())
            continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = SystemError("cannot create " + partial, errno);
            return false;
        }
    }
    struct stat info{};
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = dir + " is not a directory";
        return false;
    }
    return true;
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
        if (!CopyIfMissing(entry.path().string(), target, problem)) {
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
