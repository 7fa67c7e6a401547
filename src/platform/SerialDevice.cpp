#include "platform/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

struct BaudEntry
{
    int32_t nRate;
    speed_t speed;
};

// The rates the termios interface can name. Any other rate (14400, 56000
// and the like) is asked of the driver as it is, through termios2.
constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedForRate(int32_t nRate, speed_t& speed)
{
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.nRate == nRate) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

// The kernel's termios2 (its own layout, 19 control characters), which
// carries the rate as a number. Declared here because the kernel's header
// cannot be included beside the C library's termios.
struct KernelTermios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44, "the kernel's struct termios2");
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kOtherRate = 0010000;  // BOTHER: the rate is in c_ispeed/c_ospeed
constexpr int kInputRateShift = 16;       // IBSHIFT: the input rate's bits

// A rate that a driver rounds by more than this garbles characters; one it
// keeps within it is the rate asked for.
bool CloseEnough(speed_t applied, int32_t nRate)
{
    const long long diff = static_cast<long long>(applied) - nRate;
    return (diff < 0 ? -diff : diff) * 50 <= nRate;
}

// Sets a rate outside the table; false when the driver refuses it.
bool SetOtherRate(int fd, int32_t nRate)
{
    KernelTermios2 t2{};
    if (::ioctl(fd, kGetTermios2, &t2) != 0)
        return false;
    t2.c_cflag &= ~(CBAUD | (CBAUD << kInputRateShift));
    t2.c_cflag |= kOtherRate | (kOtherRate << kInputRateShift);
    t2.c_ispeed = static_cast<speed_t>(nRate);
    t2.c_ospeed = static_cast<speed_t>(nRate);
    if (::ioctl(fd, kSetTermios2, &t2) != 0)
        return false;
    KernelTermios2 applied{};
    return ::ioctl(fd, kGetTermios2, &applied) == 0 && CloseEnough(applied.c_ospeed, nRate) &&
           CloseEnough(applied.c_ispeed, nRate);
}

bool SizeForDataBits(uint8_t nDataBits, tcflag_t& size)
{
    switch (nDataBits) {
    case 5: size = CS5; return true;
    case 6: size = CS6; return true;
    case 7: size = CS7; return true;
    case 8: size = CS8; return true;
    default: return false;
    }
}

bool ParityFlags(uint8_t nParity, tcflag_t& flags)
{
    switch (nParity) {
    case 0: flags = 0; return true;
    case 1: flags = PARENB | PARODD; return true;
    case 2: flags = PARENB; return true;
    case 3: flags = PARENB | CMSPAR | PARODD; return true;  // mark: parity bit always 1
    case 4: flags = PARENB | CMSPAR; return true;           // space: parity bit always 0
    default: return false;
    }
}

bool StopFlags(uint8_t nStopBits, tcflag_t& flags)
{
    switch (nStopBits) {
    case 0: flags = 0; return true;
    // termios has no one and a half stop bits. Two is the usual POSIX
    // stand-in: a receiver set to one and a half accepts a longer stop
    // phase, so the units still read us; what they send us is read with any
    // stop-bit setting.
    case 1:
    case 2: flags = CSTOPB; return true;
    default: return false;
    }
}

// The character-format bits whose loss would garble the line.
constexpr tcflag_t kFormatMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

// Unix98 pseudo-terminal slaves. They have no wire and so no character
// format: the kernel resets every change to 8 bits without parity, while it
// keeps the rate and the other bits. Bytes pass through them whole whatever
// the format, so there is nothing to refuse.
bool IsPseudoTerminal(int fd)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    unsigned int nMajor = major(st.st_rdev);
    return nMajor >= 136 && nMajor <= 143;
}

// Rounded up: poll() would otherwise end a wait of t a millisecond early.
int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// --- Who else holds a device --------------------------------------------------

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

enum class LockResult { Acquired, WithoutLock, Held };

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

}  // namespace

void SetSerialLockDirectories(std::vector<std::string> dirs)
{
    std::lock_guard<std::mutex> lock(LockMutex());
    LockDirectories() = std::move(dirs);
}

SerialDevice::~SerialDevice()
{
    Close();
}

bool SerialDevice::Fail(SerialError error, const std::string& what, int err)
{
    m_error = error;
    m_strErrorText = what;
    if (err != 0) {
        m_strErrorText += ": ";
        m_strErrorText += std::strerror(err);
    }
    return false;
}

bool SerialDevice::Abandon(UniqueFd& fd, SerialError error, const std::string& what, int err)
{
    fd.Reset();
    ReleaseLock();
    return Fail(error, what, err);
}

bool SerialDevice::AbandonWithErrno(UniqueFd& fd, SerialError error, const std::string& path, const char* what)
{
    const int err = errno;
    return Abandon(fd, error, path + what, err);
}

bool SerialDevice::Open(const std::string& path, const SerialSettings& settings)
{
    Close();
    m_error = SerialError::None;
    m_strErrorText.clear();
    m_nHolderPid = 0;

    speed_t speed = B0;
    tcflag_t size = 0, parity = 0, stop = 0;
    if (settings.nBaudrate <= 0)
        return Fail(SerialError::Settings,
                    path + ": baud rate " + std::to_string(settings.nBaudrate) + " not supported", 0);
    const bool bTableRate = SpeedForRate(settings.nBaudrate, speed);
    if (!SizeForDataBits(settings.nDataBits, size) || !ParityFlags(settings.nParity, parity) ||
        !StopFlags(settings.nStopBits, stop)) {
        return Fail(SerialError::Settings,
                    path + ": character format not supported (data bits " + std::to_string(settings.nDataBits) +
                        ", parity code " + std::to_string(settings.nParity) + ", stop-bit code " +
                        std::to_string(settings.nStopBits) + ")",
                    0);
    }

    long owner = 0;
    if (AcquireLock(path, m_strLockPath, owner) == LockResult::Held) {
        m_nHolderPid = owner;
        return Fail(SerialError::Busy,
                    path + HolderText(owner) + " (lock file " + LockDirectory() + "/" + LockFileName(path) + ")", 0);
    }

    // Non-blocking, so that the open does not wait for a carrier; every wait
    // afterwards is a poll() with its own bound.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        const int err = errno;
        SerialError kind = SerialError::Io;
        if (err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR)
            kind = SerialError::NotFound;
        else if (err == EBUSY)
            kind = SerialError::Busy;
        else if (err == EACCES || err == EPERM)
            kind = SerialError::Access;
        return Abandon(fd, kind, path + ": cannot open", err);
    }

    // Two programs on one bus garble each other's telegrams, so the port is
    // ours alone. TIOCEXCL keeps out later opens, but not root's; the
    // advisory lock is what other well-behaved serial programs, root or
    // not, honour as well.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return AbandonWithErrno(fd, errno == EWOULDBLOCK ? SerialError::Busy : SerialError::Io, path, ": in use");
    if (::ioctl(fd.Get(), TIOCEXCL) != 0)
        return AbandonWithErrno(fd, SerialError::Settings, path, ": not a serial device");
    // A terminal program or a modem manager may have the device open without
    // any lock; only the open descriptors tell.
    struct stat st{};
    if (::fstat(fd.Get(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const long holder = OtherHolders({st.st_rdev}).front();
        if (holder != 0) {
            m_nHolderPid = holder;
            return Abandon(fd, SerialError::Busy, path + HolderText(holder), 0);
        }
    }

    termios tio{};
    if (::tcgetattr(fd.Get(), &tio) != 0)
        return AbandonWithErrno(fd, SerialError::Settings, path, ": cannot read line settings");

    // Raw transfer: every byte passes as it is, in both directions. INPCK
    // stays off: parity is generated on output, but a received character
    // with a parity error is passed on as it came. No flow control of either
    // kind: the bus has no handshake lines, and XON/XOFF are data bytes.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~kFormatMask;
    tio.c_cflag |= size | parity | stop | CLOCAL | CREAD;
    // Reads never block in the driver; ReadByte waits with poll() in whole
    // milliseconds, which VTIME's tenths of a second cannot express.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (bTableRate) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }

    if (::tcsetattr(fd.Get(), TCSANOW, &tio) != 0)
        return AbandonWithErrno(fd, SerialError::Settings, path, ": line settings refused");
    // tcsetattr succeeds when any part of the change was applied; read back
    // what the driver kept. Some adapters drop what they cannot do (mark and
    // space parity, 5 or 6 data bits) without a word.
    if (!bTableRate && !SetOtherRate(fd.Get(), settings.nBaudrate)) {
        const int err = errno;
        return Abandon(fd, SerialError::Settings,
                       path + ": baud rate " + std::to_string(settings.nBaudrate) + " refused by the driver", err);
    }
    termios applied{};
    bool bApplied = ::tcgetattr(fd.Get(), &applied) == 0 &&
                    (!bTableRate || (cfgetospeed(&applied) == speed && cfgetispeed(&applied) == speed));
    if (bApplied && !IsPseudoTerminal(fd.Get()))
        bApplied = (applied.c_cflag & kFormatMask) == (tio.c_cflag & kFormatMask);
    if (!bApplied)
        return Abandon(fd, SerialError::Settings, path + ": line settings refused", 0);

    // DTR and RTS off: some bus adapters power or steer their driver from
    // them. Pseudo-terminals and some adapters have no modem lines
    // (ENOTTY, EINVAL); the line works without, so no failure is made of it.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd.Get(), TIOCMBIC, &lines);

    // Whatever arrived before we owned the port belongs to nobody.
    ::tcflush(fd.Get(), TCIOFLUSH);

    m_fd = fd.Release();
    return true;
}

bool SerialDevice::Close()
{
    if (m_fd < 0)
        return false;
    // Lift the exclusive mode before the last close, so that the next opener
    // (this program's next job, or another program) is not turned away.
    (void)::ioctl(m_fd, TIOCNXCL);
    int rc = ::close(m_fd);
    m_fd = -1;
    m_nBufferPos = m_nBufferEnd = 0;
    ReleaseLock();
    return rc == 0;
}

void SerialDevice::ReleaseLock()
{
    if (m_strLockPath.empty())
        return;
    std::lock_guard<std::mutex> lock(LockMutex());
    // Only while it is still ours: a lock taken over as stale by another
    // program (we were thought gone) is theirs now.
    bool bReadable = false;
    if (ReadLockOwner(m_strLockPath, bReadable) == static_cast<long>(::getpid()))
        ::unlink(m_strLockPath.c_str());
    std::vector<std::string>& held = HeldLocks();
    held.erase(std::remove(held.begin(), held.end(), m_strLockPath), held.end());
    m_strLockPath.clear();
}

bool SerialDevice::Write(const char* data, std::size_t size, int timeoutMs)
{
    if (m_fd < 0)
        return Fail(SerialError::Io, "write: not open", 0);
    // A stalled output (a wedged adapter) must not hold the job: allow the
    // time the bytes need and the time-out, then give up.
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(20 * static_cast<long long>(size) + std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Fail(SerialError::Io, "write", errno);
        pollfd pfd{m_fd, POLLOUT, 0};
        int ready = ::poll(&pfd, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail(SerialError::Io, "write", errno);
        if (ready == 0)
            return Fail(SerialError::Io, "write: output stalled", 0);
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))
            return Fail(SerialError::Io, "write: device hung up", 0);
    }
    return true;
}

SerialDevice::ReadResult SerialDevice::ReadByte(char& byte, int timeoutMs)
{
    if (m_fd < 0) {
        Fail(SerialError::Io, "read: not open", 0);
        return ReadResult::Error;
    }
    if (m_nBufferPos < m_nBufferEnd) {
        byte = m_buffer[m_nBufferPos++];
        return ReadResult::Byte;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        pollfd pfd{m_fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, RemainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            Fail(SerialError::Io, "read", errno);
            return ReadResult::Error;
        }
        if (ready == 0)
            return ReadResult::Timeout;
        // Data first: a device that hangs up right after its last byte still
        // delivers that byte.
        if (pfd.revents & POLLIN) {
            // Whatever has come, in one call: a byte a call would cost a
            // wake-up and a system call for every byte of a long row.
            ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
            ++m_nReadCalls;
            if (n > 0) {
                m_tLastFetch = Clock::now();
                m_nBufferPos = 1;
                m_nBufferEnd = static_cast<std::size_t>(n);
                byte = m_buffer[0];
                return ReadResult::Byte;
            }
            if (n == 0) {
                // Raw mode with VMIN 0 gives 0 only on a hung-up line.
                Fail(SerialError::Io, "read: device hung up", 0);
                return ReadResult::Error;
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                // Woken without a byte after all; the deadline still holds.
                if (Clock::now() >= deadline)
                    return ReadResult::Timeout;
                continue;
            }
            Fail(SerialError::Io, "read", errno);
            return ReadResult::Error;
        }
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            Fail(SerialError::Io, "read: device hung up", 0);
            return ReadResult::Error;
        }
    }
}

bool SerialDevice::InputBefore(Clock::time_point deadline)
{
    if (m_nBufferPos < m_nBufferEnd)
        return true;
    if (m_fd < 0)
        return false;
    for (;;) {
        const auto left = std::max<Clock::duration>(deadline - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::ppoll(&pfd, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR && Clock::now() < deadline)
            continue;
        return ready > 0 && (pfd.revents & POLLIN) != 0;
    }
}

std::string SerialDevice::DiscardInput()
{
    std::string discarded(m_buffer + m_nBufferPos, m_buffer + m_nBufferEnd);
    m_nBufferPos = m_nBufferEnd = 0;
    if (m_fd < 0)
        return discarded;
    // What is there now is read rather than only flushed, so that the caller
    // learns whether the line carried anything; a pseudo-terminal may hand
    // over bytes that were on their way during the flush, so read again
    // after it. Bounded against a device that streams.
    char buffer[256];
    auto takeWhatIsThere = [&] {
        for (int i = 0; i < 64; ++i) {
            ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            ++m_nReadCalls;
            if (n > 0)
                discarded.append(buffer, static_cast<std::size_t>(n));
            else if (!(n < 0 && errno == EINTR))
                break;
        }
    };
    takeWhatIsThere();
    ::tcflush(m_fd, TCIFLUSH);
    takeWhatIsThere();
    return discarded;
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
