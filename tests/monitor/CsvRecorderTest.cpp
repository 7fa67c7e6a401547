// The recording's file rules: never overwrite, append only to its own kind,
// whole lines only when the disk gives out.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include "TestDir.h"
#include "monitor/CsvRecorder.h"
#include "platform/Csv.h"

namespace {

MonitorSample SampleOf(int16_t address, std::vector<int32_t> actual, std::vector<int32_t> set)
{
    MonitorSample sample;
    sample.nAddress = address;
    sample.tWall = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796821387250));
    sample.actual = std::move(actual);
    sample.set = std::move(set);
    return sample;
}

}  // namespace

TEST(CsvRecorder, OpensOnlyWhatItMayWriteTo)
{
    struct Case
    {
        const char* name;
        const char* existing;  // null: no file
        bool bAppend;
        bool bOpens;
        int columns;  // of the lines written after it opened
    };
    const std::string own = CCsvRecorder::HeaderLine(3) + "2026-12-09T14:03:07.250+01:00,3,1,2,3,4,5,6\r\n";
    const Case cases[] = {
        {"new file", nullptr, false, true, 2},
        {"existing file, no append", "anything\n", false, false, 0},
        {"existing empty file, append", "", true, true, 2},
        {"own recording, append keeps its columns", own.c_str(), true, true, 3},
        {"someone else's file, append", "a,b,c\r\n1,2,3\r\n", true, false, 0},
        {"a header of another width, append", "time,address,Z01 actual\r\n", true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir(false);
        const std::string path = dir.File("live.csv");
        if (c.existing)
            dir.Write("live.csv", c.existing);
        CCsvRecorder recorder;
        std::string error;
        EXPECT_EQ(recorder.Open(path, c.bAppend, error), c.bOpens);
        if (!c.bOpens) {
            EXPECT_NE(error.find(path), std::string::npos) << error;
            EXPECT_EQ(dir.Read("live.csv"), c.existing);
            continue;
        }
        recorder.SetZoneColumns(2);
        ASSERT_TRUE(recorder.Write(SampleOf(3, {201, 202, 203}, {})));
        recorder.Close();
        const auto records = platform::CsvRecords(dir.Read("live.csv"));
        EXPECT_EQ(platform::CsvLine(records.front()), CCsvRecorder::HeaderLine(c.columns));
        EXPECT_EQ(platform::CsvLine(records.back()), CCsvRecorder::SampleLine(SampleOf(3, {201, 202, 203}, {}), c.columns));
    }
}

// A file that may grow no further (a full disk, as the file size limit
// makes it) takes no part of a line: it ends on its last whole line, the
// recording stops with the reason, and later samples are refused.
TEST(CsvRecorder, AFullDiskLeavesWholeLinesOnly)
{
    TestDir dir(false);
    CCsvRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(dir.File("live.csv"), false, error));
    recorder.SetZoneColumns(4);
    const MonitorSample sample = SampleOf(7, {100, 101, 102, 103}, {200, 201, 202, 203});
    const std::size_t header = CCsvRecorder::HeaderLine(4).size();
    const std::size_t line = CCsvRecorder::SampleLine(sample, 4).size();

    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = header + 2 * line + line / 2;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool first = recorder.Write(sample);
    const bool second = recorder.Write(sample);
    const bool third = recorder.Write(sample);
    const bool fourth = recorder.Write(sample);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_TRUE(first && second);
    EXPECT_FALSE(third);
    EXPECT_FALSE(fourth);
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_NE(recorder.GetError().find("after 2 lines"), std::string::npos) << recorder.GetError();
    EXPECT_EQ(dir.Read("live.csv"), CCsvRecorder::HeaderLine(4) + CCsvRecorder::SampleLine(sample, 4) +
                                        CCsvRecorder::SampleLine(sample, 4));
}
