#include "platform/ProgramDir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::string SystemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

// Copies source to a hidden sibling of target and links it into place: link()
// never replaces, so a file the user has (or creates meanwhile) stays, and a
// half-written copy never carries the target's name.
bool CopyFileIfMissing(const std::string& source, const std::string& target, std::string& error)
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

namespace {

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    // A service started without HOME still has a passwd entry.
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

}  // namespace

std::string DefaultUserProgramDirectory()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    return UserProgramDirectory(xdg ? xdg : "", HomeDirectory());
}

std::string DefaultUserDataDirectory()
{
    const char* xdg = std::getenv("XDG_STATE_HOME");
    return UserBaseDirectory(xdg ? xdg : "", HomeDirectory(), ".local/state");
}

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

}  // namespace platform
