#include "platform/SerialDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "SimFixture.h"
#include "TestDir.h"

using platform::SerialDevice;
using platform::SerialError;
using platform::SerialSettings;

namespace {

// The far end of a pseudo-terminal, standing in for the bus.
struct Pty
{
    Pty()
    {
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path = ptsname(master);
    }
    ~Pty() { close(master); }

    // Reads until count bytes came or the line stays quiet for a second.
    std::string Receive(std::size_t count) const
    {
        std::string got;
        char buffer[512];
        pollfd pfd{master, POLLIN, 0};
        ssize_t n = 0;
        while (got.size() < count && poll(&pfd, 1, 1000) == 1 && (n = read(master, buffer, sizeof buffer)) > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        return got;
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path;
};

SerialSettings Settings(int32_t baud, uint8_t parity = 0, uint8_t dataBits = 8, uint8_t stopBits = 0)
{
    return SerialSettings{baud, parity, dataBits, stopBits};
}

// Lock files go to the given directories while it lives.
struct LockDirectories
{
    explicit LockDirectories(std::vector<std::string> dirs) { platform::SetSerialLockDirectories(std::move(dirs)); }
    ~LockDirectories() { platform::SetSerialLockDirectories({"/run/lock", "/var/lock"}); }
};

// LCK..pts_4 for /dev/pts/4.
std::string LockName(const std::string& path)
{
    std::string name = path.substr(5);
    for (char& c : name)
        c = c == '/' ? '_' : c;
    return "LCK.." + name;
}

std::string LockContent(long pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", pid);
    return text;
}

}  // namespace

TEST(SerialDevice, AppliesTheAskedLineSettingsRawAndWithoutFlowControl)
{
    // A pseudo-terminal keeps the rate, the stop bits and the kind of parity,
    // but forces 8 bits without parity enable; those two cannot be seen here.
    constexpr tcflag_t kKept = PARODD | CMSPAR | CSTOPB;
    const struct
    {
        SerialSettings settings;
        speed_t speed;
        tcflag_t kept;
    } cases[] = {
        {Settings(9600), B9600, 0},
        {Settings(19200, 1, 7), B19200, PARODD},
        {Settings(4800, 2, 8, 2), B4800, CSTOPB},
        {Settings(115200, 3), B115200, PARODD | CMSPAR},  // mark
        {Settings(2400, 4, 6), B2400, CMSPAR},            // space
        {Settings(1200, 0, 5, 1), B1200, CSTOPB},         // one and a half: two
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("baud " + std::to_string(c.settings.nBaudrate));
        Pty pty;
        // Opened before the device takes it exclusively, to leave on it what an
        // earlier program might have, and to look at what the device made of it.
        int look = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(look, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(look, &tio), 0);
        tio.c_iflag |= INPCK | IXON | IXOFF | ISTRIP | ICRNL | IGNCR | INLCR;
        tio.c_cflag |= CRTSCTS | PARODD | CMSPAR | CSTOPB;
        tio.c_cflag &= ~(CLOCAL | CREAD);
        tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        tio.c_oflag |= OPOST;
        ASSERT_EQ(tcsetattr(look, TCSANOW, &tio), 0);

        SerialDevice device;
        ASSERT_TRUE(device.Open(pty.path, c.settings)) << device.GetErrorText();
        ASSERT_EQ(tcgetattr(look, &tio), 0);
        close(look);
        EXPECT_EQ(cfgetospeed(&tio), c.speed);
        EXPECT_EQ(cfgetispeed(&tio), c.speed);
        EXPECT_EQ(tio.c_cflag & kKept, c.kept);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_iflag & (INPCK | IXON | IXOFF | ISTRIP | ICRNL | IGNCR | INLCR), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    }
}

TEST(SerialDevice, RatesOutsideTheTermiosTableAreAskedOfTheDriver)
{
    // The kernel's termios2, as the device sets it.
    struct Termios2
    {
        tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
        cc_t c_line;
        cc_t c_cc[19];
        speed_t c_ispeed, c_ospeed;
    };
    for (int32_t rate : {14400, 56000, 128000, 256000}) {
        SCOPED_TRACE(rate);
        Pty pty;
        int look = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(look, 0);
        SerialDevice device;
        ASSERT_TRUE(device.Open(pty.path, Settings(rate))) << device.GetErrorText();
        Termios2 applied{};
        ASSERT_EQ(ioctl(look, _IOR('T', 0x2A, Termios2), &applied), 0);
        close(look);
        EXPECT_EQ(applied.c_ospeed, static_cast<speed_t>(rate));
        EXPECT_EQ(applied.c_ispeed, static_cast<speed_t>(rate));
    }
}

TEST(SerialDevice, EveryByteValuePassesUnchangedBothWays)
{
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();

    // ETX, XON/XOFF, CR and LF are the values a cooked line would eat or turn.
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), 256);
    std::string got;
    char byte = 0;
    while (got.size() < bytes.size() && device.ReadByte(byte, 1000) == SerialDevice::ReadResult::Byte)
        got += byte;
    EXPECT_EQ(got, bytes);

    ASSERT_TRUE(device.Write(bytes.data(), bytes.size()));
    EXPECT_EQ(pty.Receive(bytes.size()), bytes);
}

TEST(SerialDevice, ReadsFetchWhatHasArrivedInOneCallUntilDiscarded)
{
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    const std::string sent(600, 'R');
    ASSERT_EQ(write(pty.master, sent.data(), sent.size()), 600);
    usleep(50 * 1000);  // all of it through the pseudo-terminal before the first read

    char byte = 0;
    ASSERT_EQ(device.ReadByte(byte, 1000), SerialDevice::ReadResult::Byte);
    const long long calls = device.GetReadCalls();
    std::string got(1, byte);
    for (int i = 0; i < 99; ++i) {
        ASSERT_EQ(device.ReadByte(byte, 1000), SerialDevice::ReadResult::Byte);
        got += byte;
    }
    EXPECT_EQ(device.GetReadCalls(), calls);  // handed out from what the first read fetched
    EXPECT_EQ(got, std::string(100, 'R'));

    // What was fetched but not handed out is discarded with the rest.
    EXPECT_EQ(device.DiscardInput(), std::string(500, 'R'));
    EXPECT_EQ(device.ReadByte(byte, 10), SerialDevice::ReadResult::Timeout);
    ASSERT_EQ(write(pty.master, "AB", 2), 2);
    ASSERT_EQ(device.ReadByte(byte, 1000), SerialDevice::ReadResult::Byte);
    EXPECT_EQ(byte, 'A');
    device.Close();
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    EXPECT_EQ(device.ReadByte(byte, 10), SerialDevice::ReadResult::Timeout);  // 'B' went with the close
}

TEST(SerialDevice, RefusedSettingsFailWithoutHoldingThePort)
{
    const SerialSettings refused[] = {
        Settings(0), Settings(-9600), Settings(9600, 5),
        Settings(9600, 0, 4), Settings(9600, 0, 9), Settings(9600, 0, 8, 3),
    };
    Pty pty;
    for (const SerialSettings& s : refused) {
        SerialDevice device;
        EXPECT_FALSE(device.Open(pty.path, s)) << s.nBaudrate;
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(device.GetError(), SerialError::Settings);
    }
    SerialDevice device;
    EXPECT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
}

TEST(SerialDevice, OpenFailuresCarryTheirReason)
{
    SerialDevice device;
    EXPECT_FALSE(device.Open("/dev/vorlent-no-such-tty", Settings(9600)));
    EXPECT_EQ(device.GetError(), SerialError::NotFound);
    EXPECT_EQ(device.GetErrorText(), std::string("/dev/vorlent-no-such-tty: cannot open: ") + std::strerror(ENOENT));

    // A plain file is no serial device.
    char name[] = "/tmp/vorlent-serial-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_FALSE(device.Open(name, Settings(9600)));
    EXPECT_EQ(device.GetError(), SerialError::Settings);
    EXPECT_FALSE(platform::ProbeSerialDevice(name));
    unlink(name);

    // Held by another opener: busy until it lets go.
    Pty pty;
    SerialDevice holder;
    EXPECT_TRUE(platform::ProbeSerialDevice(pty.path));
    ASSERT_TRUE(holder.Open(pty.path, Settings(9600))) << holder.GetErrorText();
    EXPECT_FALSE(device.Open(pty.path, Settings(9600)));
    EXPECT_EQ(device.GetError(), SerialError::Busy);
    EXPECT_FALSE(platform::ProbeSerialDevice(pty.path));
    EXPECT_TRUE(holder.Close());
    EXPECT_FALSE(holder.Close());
    EXPECT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    EXPECT_EQ(device.GetError(), SerialError::None);
}

TEST(SerialDevice, HangUpFailsReadsAndWrites)
{
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    char byte = 0;
    EXPECT_EQ(device.ReadByte(byte, 5), SerialDevice::ReadResult::Timeout);

    close(pty.master);
    pty.master = -1;
    // A minute to wait: a hang-up that went unnoticed ends as a Timeout.
    EXPECT_EQ(device.ReadByte(byte, 60000), SerialDevice::ReadResult::Error);
    EXPECT_EQ(device.GetError(), SerialError::Io);
    EXPECT_FALSE(device.Write("K", 1));
}

TEST(SerialDevice, AnotherProcessHoldingTheDeviceWithoutALockKeepsUsOut)
{
    Pty held, other;
    SerialDevice device;
    {
        DeviceHolder holder(held.path);
        ASSERT_TRUE(holder.Holds());
        EXPECT_FALSE(device.Open(held.path, Settings(9600)));
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(device.GetError(), SerialError::Busy);
        EXPECT_EQ(device.GetHolderPid(), holder.Pid());
        EXPECT_NE(device.GetErrorText().find("in use by process " + std::to_string(holder.Pid())), std::string::npos)
            << device.GetErrorText();
        EXPECT_FALSE(platform::ProbeSerialDevice(held.path));
        EXPECT_EQ(platform::ProbeSerialDevices({held.path, other.path, "/dev/vorlent-no-such-tty"}),
                  (std::vector<bool>{false, true, false}));
    }
    EXPECT_TRUE(device.Open(held.path, Settings(9600))) << device.GetErrorText();
}

TEST(SerialDevice, LockFilesAreTakenHonouredAndRemoved)
{
    TestDir dir(false);
    LockDirectories lockDirs({dir.File("missing"), dir.Path()});  // falls back to the second
    Pty pty;
    const std::string lock = LockName(pty.path);
    SerialDevice device;

    // Ours while open: the pid as ten characters and a newline.
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    EXPECT_EQ(device.GetLockPath(), dir.File(lock));
    EXPECT_EQ(dir.Read(lock), LockContent(getpid()));
    EXPECT_FALSE(platform::ProbeSerialDevice(pty.path));
    EXPECT_TRUE(device.Close());
    EXPECT_FALSE(dir.Exists(lock));

    // Another live process's lock is honoured and left alone; the holder is
    // named.
    dir.Write(lock, LockContent(getppid()));
    EXPECT_FALSE(device.Open(pty.path, Settings(9600)));
    EXPECT_EQ(device.GetError(), SerialError::Busy);
    EXPECT_EQ(device.GetHolderPid(), getppid());
    EXPECT_FALSE(platform::ProbeSerialDevice(pty.path));
    EXPECT_EQ(dir.Read(lock), LockContent(getppid()));

    // A lock whose owner has gone is stale: removed and taken.
    dir.Write(lock, LockContent(EndedProcess()));
    EXPECT_TRUE(platform::ProbeSerialDevice(pty.path));
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    EXPECT_EQ(dir.Read(lock), LockContent(getpid()));
    device.Close();

    // A program that ends without closing leaves no lock behind.
    const pid_t child = fork();
    if (child == 0) {
        auto* forgotten = new SerialDevice;
        std::exit(forgotten->Open(pty.path, Settings(9600)) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(dir.Exists(lock));

    // Without a lock directory the other conventions still hold.
    LockDirectories none({dir.File("missing")});
    ASSERT_TRUE(device.Open(pty.path, Settings(9600))) << device.GetErrorText();
    EXPECT_EQ(device.GetLockPath(), "");
    SerialDevice second;
    EXPECT_FALSE(second.Open(pty.path, Settings(9600)));
    EXPECT_EQ(second.GetError(), SerialError::Busy);
}

TEST(SerialDevice, LowLatencyIsSetWhereOfferedAndTheDriversFlagsComeBack)
{
    constexpr int kLow = ASYNC_LOW_LATENCY;
    constexpr int kOther = ASYNC_SPD_HI | ASYNC_SKIP_TEST;  // the driver's own, never touched
    using State = platform::LowLatencySwitch::State;
    const struct
    {
        const char* what;
        int readErr, writeErr, driverFlags;
        State state;
        int stateErrno;
        std::vector<int> writesAtOpen, writesAtClose;
    } cases[] = {
        {"offered and set", 0, 0, kOther, State::On, 0, {kOther | kLow}, {kOther}},
        {"already on: left on", 0, 0, kOther | kLow, State::On, 0, {}, {}},
        {"pseudo-terminal", ENOTTY, 0, 0, State::Off, 0, {}, {}},
        {"driver without it", EINVAL, 0, 0, State::Off, 0, {}, {}},
        {"not ours to change", 0, EPERM, kOther, State::Off, 0, {kOther | kLow}, {}},
        {"setting fails", 0, EIO, kOther, State::Refused, EIO, {kOther | kLow}, {}},
        {"reading fails", EIO, 0, 0, State::Refused, EIO, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int flags = c.driverFlags;
        std::vector<int> writes;
        const platform::SerialFlagAccess driver{
            [&](int& out) {
                out = flags;
                return c.readErr;
            },
            [&](int in) {
                writes.push_back(in);
                if (c.writeErr == 0)
                    flags = in;
                return c.writeErr;
            }};
        platform::LowLatencySwitch lowLatency;
        EXPECT_EQ(lowLatency.Engage(driver), c.state);
        EXPECT_EQ(lowLatency.GetErrno(), c.stateErrno);
        EXPECT_EQ(writes, c.writesAtOpen);
        writes.clear();
        EXPECT_EQ(lowLatency.Restore(driver), 0);
        EXPECT_EQ(writes, c.writesAtClose);
        EXPECT_EQ(flags & kOther, c.driverFlags & kOther);
    }
}

TEST(SerialDevice, APseudoTerminalOpensAndClosesWithoutLowLatencyAndWithoutComplaint)
{
    Pty pty;
    SerialDevice device;
    // Twice: the close leaves the device as the next open needs it.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(device.Open(pty.path, Settings(115200))) << device.GetErrorText();
        EXPECT_EQ(device.GetLowLatency().GetState(), platform::LowLatencySwitch::State::Off);
        EXPECT_EQ(device.GetLowLatency().GetErrno(), 0);
        EXPECT_EQ(device.GetLatencyTimerMs(), -1);
        ASSERT_TRUE(device.Write("x", 1));
        EXPECT_EQ(pty.Receive(1), "x");
        EXPECT_TRUE(device.Close());
    }
}
