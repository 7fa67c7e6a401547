#include "platform/SerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialLock.h"

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

// The driver's flags through TIOCGSERIAL/TIOCSSERIAL; the rest of the
// driver's serial settings are written back as read.
SerialFlagAccess DriverFlags(int fd)
{
    return SerialFlagAccess{
        [fd](int& flags) {
            serial_struct info{};
            if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
                return errno;
            flags = info.flags;
            return 0;
        },
        [fd](int flags) {
            serial_struct info{};
            if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
                return errno;
            info.flags = flags;
            return ::ioctl(fd, TIOCSSERIAL, &info) == 0 ? 0 : errno;
        }};
}

// Failures that say the driver has no low-latency mode, or does not let us
// change it: the link is simply as fast as the driver makes it.
bool IsHarmlessFlagFailure(int err) { return err == ENOTTY || err == EINVAL || err == EPERM; }

}  // namespace

LowLatencySwitch::State LowLatencySwitch::Engage(const SerialFlagAccess& access)
{
    m_bChanged = false;
    m_nErrno = 0;
    m_state = State::Off;
    int flags = 0;
    int err = access.read(flags);
    if (err == 0 && (flags & ASYNC_LOW_LATENCY) != 0) {
        m_state = State::On;
        return m_state;
    }
    if (err == 0) {
        err = access.write(flags | ASYNC_LOW_LATENCY);
        if (err == 0) {
            m_bChanged = true;
            m_nDriverFlags = flags;
            m_state = State::On;
            return m_state;
        }
    }
    if (!IsHarmlessFlagFailure(err)) {
        m_nErrno = err;
        m_state = State::Refused;
    }
    return m_state;
}

int LowLatencySwitch::Restore(const SerialFlagAccess& access)
{
    if (!m_bChanged)
        return 0;
    m_bChanged = false;
    int flags = 0;
    if (const int err = access.read(flags); err != 0)
        return err;
    flags = (flags & ~ASYNC_LOW_LATENCY) | (m_nDriverFlags & ASYNC_LOW_LATENCY);
    return access.write(flags);
}

int ReadLatencyTimerMs(const std::string& devicePath)
{
    char resolved[PATH_MAX];
    const std::string path = ::realpath(devicePath.c_str(), resolved) ? std::string(resolved) : devicePath;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.empty())
        return -1;
    std::ifstream file("/sys/bus/usb-serial/devices/" + name + "/latency_timer");
    int ms = -1;
    if (!(file >> ms) || ms < 0)
        return -1;
    return ms;
}

SerialDevice::~SerialDevice()
{
    Close();
}

bool SerialDevice::IsOpen() const { return m_fd >= 0; }

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
    ReleaseLock(m_strLockPath);
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

    // A USB adapter hands over what it received when its latency timer runs
    // out (16 ms by default) unless the driver is asked for low latency:
    // every answer would come that much late.
    m_lowLatency.Engage(DriverFlags(fd.Get()));
    m_nLatencyTimerMs = ReadLatencyTimerMs(path);

    // Whatever arrived before we owned the port belongs to nobody.
    ::tcflush(fd.Get(), TCIOFLUSH);

    m_fd = fd.Release();
    return true;
}

bool SerialDevice::Close()
{
    if (m_fd < 0)
        return false;
    // The driver as we found it for the next opener, who may not want low
    // latency. An unplugged adapter fails here; nothing is left to restore.
    (void)m_lowLatency.Restore(DriverFlags(m_fd));
    // Lift the exclusive mode before the last close, so that the next opener
    // (this program's next job, or another program) is not turned away.
    (void)::ioctl(m_fd, TIOCNXCL);
    int rc = ::close(m_fd);
    m_fd = -1;
    m_nBufferPos = m_nBufferEnd = 0;
    ReleaseLock(m_strLockPath);
    return rc == 0;
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

}  // namespace platform
