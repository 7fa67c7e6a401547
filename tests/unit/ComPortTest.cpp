#include "unit/ComPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "config/PortMap.h"
#include "TestDir.h"

namespace {

// The far end of a pseudo-terminal: plays the units' side of the line.
struct Pty
{
    Pty()
    {
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path = ptsname(master);
    }
    ~Pty() { Hangup(); }
    void Send(const std::string& bytes) const
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Hangup()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path;
};

// 9600 8N1 with a short time-out, so that silent reads are quick.
bool OpenOn(CComPort& port, const Pty& pty, int16_t timeoutMs = 10)
{
    port.SetDeviceOverride(pty.path);
    return port.Open(1, 9600, 0, 8, 0, timeoutMs);
}

}  // namespace

TEST(ComPortRead, AnswerEndsOnEtxSilenceOrTheByteLimit)
{
    const struct
    {
        const char* name;
        std::string sent;
        std::string answer;
    } cases[] = {
        {"silent line", "", ""},
        {"lone ETX", "\x03", ""},
        {"ACK then silence", "\x06", "\x06"},
        {"answer with ETX", "B01K01P01=0042X\x03", "B01K01P01=0042X\x03"},
        {"NUL dropped", std::string("A\0B\x03", 4), "AB\x03"},
        {"stream without ETX", std::string(2000, 'A'), std::string(1024, 'A')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pty pty;
        CComPort port;
        ASSERT_TRUE(OpenOn(port, pty)) << port.GetLastError();
        pty.Send(c.sent);
        std::string answer = "stale";
        EXPECT_EQ(port.Read(answer, 0), 0);
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(ComPortRead, WhatFollowsTheEndIsLeftForTheNextReadUntilDiscarded)
{
    Pty pty;
    CComPort port;
    ASSERT_TRUE(OpenOn(port, pty)) << port.GetLastError();
    std::string answer;

    pty.Send("AB\x03" "CD\x03" "EF\x03");
    port.Read(answer, 0);
    EXPECT_EQ(answer, "AB\x03");
    port.Read(answer, 0);
    EXPECT_EQ(answer, "CD\x03");
    port.DiscardInput();
    port.Read(answer, 0);
    EXPECT_EQ(answer, "");

    // The cut after 1024 bytes loses nothing either.
    pty.Send(std::string(1500, 'Z'));
    port.Read(answer, 0);
    EXPECT_EQ(answer.size(), 1024u);
    port.Read(answer, 0);
    EXPECT_EQ(answer, std::string(476, 'Z'));
}

TEST(ComPortRead, StatusComparesTheByteCountWithTheExpectedLength)
{
    // Counted are the bytes received, NUL and ETX included; 2 only for an
    // answer that ended on ETX with a count outside expected +- 3.
    const struct
    {
        std::string sent;
        int expected;
        int status;
    } cases[] = {
        {"12345\x03", 10, 2},
        {"123456\x03", 10, 0},
        {std::string("12345\0\x03", 7), 10, 0},
        {"123456789012\x03", 10, 0},
        {"1234567890123\x03", 10, 2},
        {"12345\x03", 0, 0},
        {"12", 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.sent.size()) + " bytes, expected " + std::to_string(c.expected));
        Pty pty;
        CComPort port;
        ASSERT_TRUE(OpenOn(port, pty)) << port.GetLastError();
        pty.Send(c.sent);
        std::string answer;
        EXPECT_EQ(port.Read(answer, c.expected), c.status);
    }
}

TEST(ComPortRead, ErrorsEndTheReadAtOnceWithStatus1)
{
    std::string answer = "stale";
    CComPort closed;
    EXPECT_EQ(closed.Read(answer, 0), 1);
    EXPECT_EQ(answer, "");

    Pty pty;
    CComPort port;
    // The longest time-out there is: a hang-up that went unnoticed would hold
    // the read far beyond the guard below.
    ASSERT_TRUE(OpenOn(port, pty, 32767)) << port.GetLastError();
    pty.Hangup();
    auto reading = std::async(std::launch::async, [&port] {
        std::string text = "stale";
        int status = port.Read(text, 0);
        return std::make_pair(status, text);
    });
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "read hangs";
    auto [status, text] = reading.get();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text, "");

    port.Write("K01\x03");  // dropped quietly
    EXPECT_EQ(port.Read(answer, 0), 1);
}

TEST(ComPortOpen, FailsOnAHeldMissingUnmappedOrRefusedPort)
{
    Pty pty;
    CComPort first, second;
    ASSERT_TRUE(OpenOn(first, pty)) << first.GetLastError();
    EXPECT_TRUE(first.GetLastError().empty());
    EXPECT_FALSE(OpenOn(second, pty));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(second.GetLastError().empty());
    EXPECT_TRUE(first.Close());
    EXPECT_FALSE(first.Close());
    EXPECT_TRUE(OpenOn(second, pty)) << second.GetLastError();
    second.Close();

    CComPort port;
    port.SetDeviceOverride("/dev/vorlent-no-such-tty");
    EXPECT_FALSE(port.Open(1, 9600, 0, 8, 0, 200));
    EXPECT_EQ(port.GetDevicePath(), "/dev/vorlent-no-such-tty");
    EXPECT_FALSE(port.GetLastError().empty());

    // Refused settings: closed again, and free for others. A rate without a
    // termios constant is no longer among them.
    port.SetDeviceOverride(pty.path);
    EXPECT_FALSE(port.Open(1, 0, 0, 8, 0, 200));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(OpenOn(second, pty)) << second.GetLastError();
    second.Close();
    EXPECT_TRUE(port.Open(1, 14400, 0, 8, 0, 200)) << port.GetLastError();
    port.Close();

    CComPort unmapped;
    EXPECT_FALSE(unmapped.Open(16, 9600, 0, 8, 0, 200));
    EXPECT_FALSE(unmapped.GetLastError().empty());
}

TEST(ComPortOpen, TimeOutOutsideTheRangeIsTheDefault)
{
    const int16_t cases[][2] = {{0, 200}, {-1, 200}, {-32768, 200}, {1, 1}, {32767, 32767}};
    for (const auto& c : cases) {
        Pty pty;
        CComPort port;
        ASSERT_TRUE(OpenOn(port, pty, c[0])) << port.GetLastError();
        EXPECT_EQ(port.GetTimeout(), c[1]) << c[0];
    }
}

TEST(PortMap, NumbersMapToDefaultsUnlessConfigured)
{
    TestDir dir;
    const struct
    {
        int port;
        const char* path;
    } defaults[] = {{1, "/dev/ttyS0"}, {4, "/dev/ttyS3"}, {5, "/dev/ttyUSB0"}, {15, "/dev/ttyUSB10"},
                    {0, ""},           {16, ""},         {-1, ""}};
    for (const auto& c : defaults)
        EXPECT_EQ(DevicePathForPort(c.port), c.path) << "COM" << c.port << ", no CONFIG.INI";

    Pty pty;
    dir.Write("CONFIG.INI", "[Interface]\r\nCOM2=/dev/wrong\r\n[PORTS]\r\nCOM2=/dev/ttyACM0\r\n"
                            "COM12=" + pty.path + "\r\nCOM16=/dev/ttyS9\r\n");
    EXPECT_EQ(DevicePathForPort(2), "/dev/ttyACM0");
    EXPECT_EQ(DevicePathForPort(12), pty.path);
    EXPECT_EQ(DevicePathForPort(3), "/dev/ttyS2");
    EXPECT_EQ(DevicePathForPort(16), "/dev/ttyS9");  // any number may be mapped
    EXPECT_EQ(DevicePathForPort(17), "");

    // Open goes through the mapping when no override is set.
    CComPort port;
    ASSERT_TRUE(port.Open(12, 9600, 0, 8, 0, 10)) << port.GetLastError();
    EXPECT_EQ(port.GetDevicePath(), pty.path);
}
