// vorlent-cli monitor as a separate process against the simulated bus: its
// statuses, and its end on SIGINT.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "monitor/CsvRecorder.h"
#include "platform/Csv.h"
#include "platform/SerialDevice.h"

namespace {

class CliMonitor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=0\r\nTimeout=20\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n");
        line.Bus().AddUnit(MakeSimUnit(3, 7, 12, 2, 4));
        line.Bus().AddUnit(MakeSimUnit(12, 12, 120, 2, 5));
        line.Start();
    }

    // Starts the program with its output in files of the work directory.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& device = "")
    {
        std::vector<std::string> argv = {VORLENT_CLI, "--home", home.Path(), "--device",
                                         device.empty() ? line.Path() : device, "monitor"};
        argv.insert(argv.end(), args.begin(), args.end());
        m_running = SpawnWithOutput(std::move(argv), work.File("out"), work.File("err"));
        return m_running;
    }

    int StatusOf(pid_t pid)
    {
        m_running = -1;
        return ExitStatusOf(pid);
    }

    // A monitor left behind by a failed check would poll for ever.
    void TearDown() override
    {
        if (m_running > 0) {
            kill(m_running, SIGKILL);
            waitpid(m_running, nullptr, 0);
        }
    }

    TestDir home{false};
    TestDir work{false};
    SimLine line;
    pid_t m_running = -1;
};

}  // namespace

TEST_F(CliMonitor, StatusTellsHowTheRunEnded)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> args;
        const char* device;  // empty: the simulated bus
        int status;
        std::size_t lines;  // on standard output
        const char* message;  // a part of the message on standard error
    };
    const std::string taken = work.File("taken.csv");
    work.Write("taken.csv", "time,address\r\n");
    // A recording of unit 3 alone: columns for its 12 zones.
    const std::string narrow = work.File("narrow.csv");
    const std::string narrowHeader = CCsvRecorder::HeaderLine(12);
    work.Write("narrow.csv", narrowHeader);
    const Case cases[] = {
        {"a count ends it", {"3", "--count", "2", "--interval", "0"}, "", 0, 2, ""},
        {"nobody answers", {"5", "--count", "3"}, "", 3, 1, "no unit answered"},
        {"one of two answers", {"5", "3", "--count", "1"}, "", 0, 2, ""},
        {"a file that exists", {"3", "--csv", taken}, "", 7, 0, "--append"},
        {"a folder", {"3", "--csv", work.Path()}, "", 7, 0, "a folder, not a file"},
        {"an append narrower than a unit", {"3", "12", "--count", "1", "--csv", narrow, "--append"}, "", 7, 2,
         "has columns for 12 zones, unit 12 has 120"},
        {"a port that is not there", {"3"}, "/dev/nonexistent-vorlent", 2, 0, "cannot open"},
        {"no address", {"--count", "1"}, "", 1, 0, "at least one ADDRESS"},
        {"append without a file", {"3", "--append"}, "", 1, 0, "--append needs --csv FILE"},
        {"an interval that is no number", {"3", "--interval", "1s"}, "", 1, 0, "--interval"},
        {"an address given twice", {"3", "3"}, "", 1, 0, "twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StatusOf(Spawn(c.args, c.device)), c.status);
        const std::string out = work.Read("out");
        EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')), c.lines) << out;
        EXPECT_NE(work.Read("err").find(c.message), std::string::npos) << work.Read("err");
    }
    EXPECT_EQ(work.Read("taken.csv"), "time,address\r\n");
    EXPECT_EQ(work.Read("narrow.csv"), narrowHeader);
}

// SIGINT ends a monitor that has no count: status 0, a recording of whole
// lines that a CSV reader takes, and the port free for the next program.
TEST_F(CliMonitor, SigintEndsItWithAValidFileAndTheLinkReleased)
{
    const std::string csv = work.File("live.csv");
    const pid_t pid = Spawn({"3", "--interval", "0.05", "--csv", csv});
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::string out; std::count(out.begin(), out.end(), '\n') < 3 && std::chrono::steady_clock::now() < giveUp;
         out = work.Read("out"))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    EXPECT_EQ(StatusOf(pid), 0);
    EXPECT_EQ(work.Read("err"), "");

    const std::string text = work.Read("live.csv");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const auto records = platform::CsvRecords(text);
    ASSERT_GE(records.size(), 4u);
    for (const auto& record : records)
        EXPECT_EQ(record.size(), 2u + 2 * 12u);
    EXPECT_TRUE(platform::ProbeSerialDevice(line.Path()));
}
