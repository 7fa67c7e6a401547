#include "platform/SerialLock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialDevice.h"

namespace platform {

namespace {

std::mutex& LockMutex()
{
    static std::mutex* mutex = new std::mutex;  // never destroyed: used at exit
    return *mutex;
}

std::vector<std::string>& LockDirectories()
{
    static auto* dirs = new std::vector<std::string>{"/run/lock", "/var/lock"};
    return *dirs;
}

// Lock files this process holds, removed by the exit handler if a device is
// still open then (a static record's destructor may come too late or never).
std::vector<std::string>& HeldLocks()
{
    static auto* held = new std::vector<std::string>;
    return *held;
}

long ReadLockOwner(const std::string& lockPath, bool& bReadable);

void RemoveHeldLocksAtExit()
{
    std::lock_guard<std::mutex> lock(LockMutex());
    for (const std::string& path : HeldLocks()) {
        bool bReadable = false;
        if (ReadLockOwner(path, bReadable) == static_cast<long>(::getpid()))
            ::unlink(path.c_str());
    }
    HeldLocks().clear();
}

// The pid in a lock file: ten ASCII characters (blanks, then digits) and a
// newline; older programs wrote the pid as a 4-byte binary number. 0 when
// the file holds no pid; bReadable false when it could not be read at all
// (gone, or not ours to read).
long ReadLockOwner(const std::string& lockPath, bool& bReadable)
{
    bReadable = false;
    const UniqueFd fd(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd)
        return 0;
    char buffer[32] = {};
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer - 1);
    if (n < 0)
        return 0;
    bReadable = true;
    if (n == 4 && (buffer[0] < ' ' || buffer[3] < ' ')) {
        int32_t binary = 0;
        std::memcpy(&binary, buffer, 4);
        return binary > 0 ? binary : 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(buffer, &end, 10);
    return (end != buffer && pid > 0) ? pid : 0;
}

bool ProcessExists(long pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A lock that names a live process (this one included: another open of ours)
// holds the device. One without a pid is taken as being written just now if
// it is only seconds old, else as stale.
bool LockIsHeld(const std::string& lockPath, long& owner)
{
    bool bReadable = false;
    owner = ReadLockOwner(lockPath, bReadable);
    if (!bReadable)
        return ::access(lockPath.c_str(), F_OK) == 0;  // gone (free), or not ours to read
    if (owner > 0)
        return ProcessExists(owner);
    struct stat st{};
    return ::stat(lockPath.c_str(), &st) == 0 && std::time(nullptr) - st.st_mtime < 5;
}

}  // namespace

std::string LockDirectory()
{
    std::lock_guard<std::mutex> lock(LockMutex());
    for (const std::string& dir : LockDirectories()) {
        struct stat st{};
        if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return dir;
    }
    return {};
}

// LCK..ttyUSB0 for /dev/ttyUSB0, whatever alias it was opened by; a device
// in a subdirectory of /dev has its slashes as underscores (LCK..pts_4).
std::string LockFileName(const std::string& path)
{
    char resolved[PATH_MAX];
    std::string name = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    if (name.compare(0, 5, "/dev/") == 0)
        name.erase(0, 5);
    else
        name.erase(0, name.find_last_of('/') + 1);
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

// Takes the UUCP lock of the device. The pid is written to a file of our own
// and linked into place, so that the lock appears whole or not at all and two
// programs cannot both take it.
LockResult AcquireLock(const std::string& devicePath, std::string& lockPath, long& owner)
{
    owner = 0;
    const std::string dir = LockDirectory();
    if (dir.empty())
        return LockResult::WithoutLock;
    lockPath = dir + "/" + LockFileName(devicePath);
    char content[16];
    std::snprintf(content, sizeof content, "%10ld\n", static_cast<long>(::getpid()));
    static std::atomic<int> s_nSerial{0};
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string temp = dir + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(++s_nSerial);
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!fd) {
            // Not ours to write (a lock directory for a group we are not in,
            // a read-only system): the other conventions still hold, so go
            // on without, but never over a lock that someone else holds.
            lockPath.clear();
            std::string existing = dir + "/" + LockFileName(devicePath);
            return LockIsHeld(existing, owner) ? LockResult::Held : LockResult::WithoutLock;
        }
        const bool bWritten = WriteAll(fd.Get(), std::string_view(content, 11)) && fd.Close();
        const int rc = bWritten ? ::link(temp.c_str(), lockPath.c_str()) : -1;
        const int err = errno;
        ::unlink(temp.c_str());
        if (rc == 0) {
            std::lock_guard<std::mutex> lock(LockMutex());
            static const bool s_bAtExit = std::atexit(RemoveHeldLocksAtExit) == 0;
            (void)s_bAtExit;
            HeldLocks().push_back(lockPath);
            return LockResult::Acquired;
        }
        if (!bWritten || err != EEXIST) {
            lockPath.clear();
            return LockResult::WithoutLock;
        }
        if (LockIsHeld(lockPath, owner)) {
            // Someone else's: never ours to remove.
            lockPath.clear();
            return LockResult::Held;
        }
        // Stale: its owner is gone. Removed, and taken in the next round.
        ::unlink(lockPath.c_str());
    }
    lockPath.clear();
    return LockResult::Held;
}

// For every device number, another process that has it open (0: none). One
// pass over /proc; processes we may not look into are skipped. Only links
// into /dev are examined, so no file on a slow or hung file system is ever
// touched.
std::vector<long> OtherHolders(const std::vector<dev_t>& devices)
{
    std::vector<long> holders(devices.size(), 0);
    if (std::none_of(devices.begin(), devices.end(), [](dev_t d) { return d != 0; }))
        return holders;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return holders;
    const long self = static_cast<long>(::getpid());
    while (dirent* process = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        const std::string fdPath = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdPath.c_str());
        if (!fds)
            continue;
        while (dirent* entry = ::readdir(fds)) {
            if (entry->d_name[0] == '.')
                continue;
            char target[64];
            const ssize_t n = ::readlinkat(::dirfd(fds), entry->d_name, target, sizeof target - 1);
            if (n < 5 || std::memcmp(target, "/dev/", 5) != 0)
                continue;
            struct stat st{};
            if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode))
                continue;
            for (std::size_t i = 0; i < devices.size(); ++i) {
                if (devices[i] != 0 && st.st_rdev == devices[i] && holders[i] == 0)
                    holders[i] = pid;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holders;
}

std::string HolderText(long pid)
{
    return pid > 0 ? ": in use by process " + std::to_string(pid) : ": in use by another program";
}

void SetSerialLockDirectories(std::vector<std::string> dirs)
{
    std::lock_guard<std::mutex> lock(LockMutex());
    LockDirectories() = std::move(dirs);
}

void ReleaseLock(std::string& lockPath)
{
    if (lockPath.empty())
        return;
    std::lock_guard<std::mutex> lock(LockMutex());
    // Only while it is still ours: a lock taken over as stale by another
    // program (we were thought gone) is theirs now.
    bool bReadable = false;
    if (ReadLockOwner(lockPath, bReadable) == static_cast<long>(::getpid()))
        ::unlink(lockPath.c_str());
    std::vector<std::string>& held = HeldLocks();
    held.erase(std::remove(held.begin(), held.end(), lockPath), held.end());
    lockPath.clear();
}

bool ProbeSerialDevice(const std::string& path)
{
    return ProbeSerialDevices({path}).front();
}

std::vector<bool> ProbeSerialDevices(const std::vector<std::string>& paths)
{
    std::vector<bool> free(paths.size(), false);
    std::vector<dev_t> devices(paths.size(), 0);
    const std::string dir = LockDirectory();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        long owner = 0;
        if (!dir.empty() && LockIsHeld(dir + "/" + LockFileName(paths[i]), owner))
            continue;
        const UniqueFd fd(::open(paths[i].c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!fd)
            continue;
        termios tio{};
        struct stat st{};
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 && ::tcgetattr(fd.Get(), &tio) == 0 &&
            ::fstat(fd.Get(), &st) == 0) {
            free[i] = true;
            devices[i] = st.st_rdev;
        }
    }
    const std::vector<long> holders = OtherHolders(devices);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (holders[i] != 0)
            free[i] = false;
    }
    return free;
}

}  // namespace platform