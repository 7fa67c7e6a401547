// The simulator on a real pseudo-terminal, opened the way the program opens
// its serial device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <dirent.h>
#include <string>

#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"

namespace {

// Generous: only a broken server gets near it.
constexpr int kPatienceMs = 5000;

std::string WithSum(const std::string& s)
{
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", unitsim::SimBus::Checksum(s));
    return s + sum + "\x03";
}

std::string Telegram(int address, const std::string& text)
{
    char head[8];
    std::snprintf(head, sizeof head, "G%02d", address);
    return WithSum(head + text);
}

const std::string kAz = WithSum("G03:0007");
const std::string kKan = WithSum("G03:0012");

int OpenRaw(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Reads until count ETX have come, the line hangs up or patience runs out.
std::string ReadAnswers(int fd, int count = 1)
{
    std::string got;
    while (count > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kPatienceMs) <= 0 || !(p.revents & POLLIN))
            break;
        char c;
        if (read(fd, &c, 1) != 1)
            break;
        got += c;
        if (c == '\x03')
            --count;
    }
    return got;
}

bool Send(int fd, const std::string& bytes)
{
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

struct PtyServerTest : ::testing::Test
{
    PtyServerTest()
    {
        unitsim::SimUnitConfig u;
        u.address = 3;
        u.azNumber = 7;
        u.zones = 12;
        bus.AddUnit(u);
    }
    unitsim::SimBus bus;
    unitsim::PtyServer server{bus};
};

TEST_F(PtyServerTest, AnswersAcrossClosingAndReopeningTheSlave)
{
    ASSERT_TRUE(server.Start());
    EXPECT_FALSE(server.Start());

    for (int job = 0; job < 3; ++job) {
        int fd = OpenRaw(server.SlavePath());
        ASSERT_GE(fd, 0) << server.SlavePath();
        // Several requests in one write, and one in pieces.
        ASSERT_TRUE(Send(fd, Telegram(3, "?AZ#=") + Telegram(3, "?KAN=")));
        const std::string az = Telegram(3, "?AZ#=");
        ASSERT_TRUE(Send(fd, az.substr(0, 4)));
        ASSERT_TRUE(Send(fd, az.substr(4)));
        EXPECT_EQ(ReadAnswers(fd, 3), kAz + kKan + kAz);
        close(fd);
    }
    EXPECT_EQ(server.RequestCount(), 9);
    EXPECT_TRUE(server.Serving());
}

TEST_F(PtyServerTest, ALateAnswerComesBeforeTheAnswersToLaterRequests)
{
    bus.AddFault({unitsim::FaultKind::Delay, "?AZ#=", 1, 200});
    ASSERT_TRUE(server.Start());
    int fd = OpenRaw(server.SlavePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Send(fd, Telegram(3, "?AZ#=")));
    ASSERT_TRUE(Send(fd, Telegram(3, "?KAN=")));
    EXPECT_EQ(ReadAnswers(fd, 2), kAz + kKan);
    close(fd);
}

TEST_F(PtyServerTest, ServingDoesNotHoldTheDeviceItOffers)
{
    // Else the program that opens the device would find it held by another
    // process and refuse it.
    ASSERT_TRUE(server.Start());
    struct stat device{};
    ASSERT_EQ(stat(server.SlavePath().c_str(), &device), 0);
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* entry = readdir(fds)) {
        struct stat st{};
        if (entry->d_name[0] != '.' && fstatat(dirfd(fds), entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode)) {
            EXPECT_NE(st.st_rdev, device.st_rdev) << "descriptor " << entry->d_name;
        }
    }
    closedir(fds);

    int fd = OpenRaw(server.SlavePath());  // still served when opened
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Send(fd, Telegram(3, "?AZ#=")));
    EXPECT_EQ(ReadAnswers(fd), kAz);
    close(fd);
}

TEST_F(PtyServerTest, DisconnectTakesTheDeviceAway)
{
    unitsim::SimFault unplug;
    unplug.kind = unitsim::FaultKind::Disconnect;
    unplug.afterRequests = 1;
    bus.AddFault(unplug);
    ASSERT_TRUE(server.Start());
    const std::string path = server.SlavePath();
    int fd = OpenRaw(path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Send(fd, Telegram(3, "?AZ#=")));
    EXPECT_EQ(ReadAnswers(fd), kAz);
    ASSERT_TRUE(Send(fd, Telegram(3, "?AZ#=")));

    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, kPatienceMs), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    EXPECT_LE(read(fd, &c, 1), 0);
    close(fd);

    server.Stop();
    EXPECT_EQ(server.RequestCount(), 2);
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << path << " should be gone";
    EXPECT_LT(OpenRaw(path), 0);
}

}  // namespace
