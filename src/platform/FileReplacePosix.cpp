#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "platform/Posix.h"

namespace platform {
namespace {

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Without this a power cut may forget the rename, though not the data.
void SyncDirectory(const std::string& path)
{
    const UniqueFd fd(open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        fsync(fd.Get());
}

// Root passes access() on anything: a file or directory without a single
// write bit is still meant to stay as it is.
bool Writable(const std::string& path, const struct stat& st)
{
    return (st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0;
}

bool DirectoryTakesFiles(const std::string& dir)
{
    struct stat st{};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && Writable(dir, st) &&
           access(dir.c_str(), X_OK) == 0;
}

// A sibling no other program uses: a name of our own, created exclusively.
UniqueFd CreateSibling(const std::string& path, std::string& name)
{
    static std::mt19937 random(std::random_device{}());
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + ".";
        for (int i = 0; i < 6; ++i)
            name += letters[random() % (sizeof letters - 1)];
        name += "~";
        // A new file gets its mode from the umask.
        UniqueFd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd || errno != EEXIST)
            return fd;
    }
    return UniqueFd();
}

// For a directory that refuses new files (only the file was made writable):
// not atomic, so it is used only where the atomic way is refused.
bool RewriteInPlace(const FileToReplace& f, const std::string& text)
{
    UniqueFd fd(open(f.path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd)
        return false;
    bool bOk = WriteAll(fd.Get(), text) && ftruncate(fd.Get(), static_cast<off_t>(text.size())) == 0 &&
               fsync(fd.Get()) == 0;
    bOk = fd.Close() && bOk;
    return bOk;
}

}  // namespace

std::optional<std::string> LoadWholeFile(const std::string& path)
{
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    std::string text;
    if (!ReadToEnd(fd.Get(), text))
        return std::nullopt;
    return text;
}

bool InspectFileToReplace(const std::string& path, FileToReplace& f)
{
    // Through a symbolic link the target is rewritten and the link stays.
    char* real = realpath(path.c_str(), nullptr);
    f.path = real ? real : path;
    std::free(real);
    struct stat st{};
    if (stat(f.path.c_str(), &st) != 0)
        return errno == ENOENT && DirectoryTakesFiles(DirectoryOf(f.path));
    f.bExists = true;
    f.nMode = st.st_mode & 07777;
    f.nOwner = static_cast<long>(st.st_uid);
    f.nGroup = static_cast<long>(st.st_gid);
    return S_ISREG(st.st_mode) && Writable(f.path, st);
}

bool ReplaceFileContents(const FileToReplace& f, const std::string& text, bool bInPlace, bool bFailBeforeMove)
{
    if (DirectoryTakesFiles(DirectoryOf(f.path))) {
        std::string sibling;
        UniqueFd fd = CreateSibling(f.path, sibling);
        if (fd) {
            bool bOk = true;
            if (f.bExists) {
                if (fchown(fd.Get(), static_cast<uid_t>(f.nOwner), static_cast<gid_t>(f.nGroup)) != 0) {
                    // Only root may give a file away; anyone else keeps it as their own.
                }
                bOk = fchmod(fd.Get(), static_cast<mode_t>(f.nMode)) == 0;
            }
            bOk = bOk && WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0;
            bOk = fd.Close() && bOk;
            if (bOk && !bFailBeforeMove && rename(sibling.c_str(), f.path.c_str()) == 0) {
                SyncDirectory(f.path);
                return true;
            }
            const int renameError = errno;
            unlink(sibling.c_str());
            // A file mounted on its own cannot be renamed over; anything
            // else (a full disk above all) must leave the old file alone.
            if (!bOk || bFailBeforeMove || renameError != EBUSY)
                return false;
        } else if (errno != EACCES && errno != EPERM) {
            return false;
        }
    }
    return bInPlace && f.bExists && RewriteInPlace(f, text);
}

}  // namespace platform
