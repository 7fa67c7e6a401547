// The bus trace: what a service engineer reads of each telegram try.
#include <gtest/gtest.h>
#include <chrono>
#include <thread>

#include <regex>
#include <sstream>

#include "SimFixture.h"
#include "TestDir.h"
#include "unit/BusTrace.h"
#include "unit/Unit.h"

using unitsim::FaultKind;

namespace {

struct TraceLine
{
    double ms = 0;
    std::string address, request, answer, outcome;
};

// The try lines of a trace file; '#' lines are left out.
std::vector<TraceLine> TryLines(const std::string& text)
{
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    std::string line;
    const std::regex pattern(R"(^(\d+\.\d{3})\t(\d\d)\t([^\t]*)\t([^\t]*)\t([^\t]+)$)");
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::smatch m;
        if (!std::regex_match(line, m, pattern)) {
            ADD_FAILURE() << "malformed trace line: " << line;
            continue;
        }
        lines.push_back({std::stod(m[1]), m[2], m[3], m[4], m[5]});
    }
    return lines;
}

class BusTrace : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto small = MakeSimUnit(3, 7, 12, 7, 4);
        small.globals = {{"TSOLL", 180, 0, 500}};
        line.Bus().AddUnit(small);
        GlobalParamDef def;
        def.pCommand = "TSOLL=";
        def.nMaxVal = 500;
        unit.SetGlobalParams({def});
    }
    void TearDown() override { SetActiveBusTrace(nullptr); }

    void Connect()
    {
        std::string error;
        ASSERT_TRUE(trace.Open(path, "test trace", error)) << error;
        SetActiveBusTrace(&trace);
        line.Start();
        line.Attach(unit, 20);
        unit.SetAddress(3);
        unit.SetOffline(false);
        ASSERT_TRUE(unit.OpenPort());
    }

    TestDir dir{false};
    const std::string path = dir.File("trace.txt");
    SimLine line;
    CUnit unit;
    CBusTrace trace;
};

}  // namespace

TEST(BusTraceRender, ControlCharactersByNameOtherBytesInHex)
{
    const std::pair<std::string, std::string> cases[] = {
        {"G03:0007AB\x03", "G03:0007AB<ETX>"},
        {"G03\x06\x03", "G03<ACK><ETX>"},
        {"\x15", "<NAK>"},
        {std::string("\x00\x1b\x7f\xff\r\n", 6), "<00><1B><7F><FF><0D><0A>"},
        {" ~<", " ~<"},
        {"", ""},
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(CBusTrace::Render(bytes), shown);
}

TEST_F(BusTrace, OneLinePerTryWithItsOutcome)
{
    line.Bus().AddFault(Fault(FaultKind::Noise, "?AZ#=", 1));
    line.Bus().AddFault(Fault(FaultKind::BadChecksum, "?SER=", 1));
    line.Bus().AddFault(Fault(FaultKind::Nak, "?DAT=", -1));
    line.Bus().AddFault(Fault(FaultKind::Silence, "?KAN=", -1));
    // Later than a try waits (40 ms): the retry takes this answer, and the
    // unit's answer to the retry comes while the line is let go quiet.
    line.Bus().AddFault(Fault(FaultKind::Delay, "?TYP=", -1, 60));
    Connect();
    unit.QueryAZNumber();
    unit.QueryEpromNumber();
    unit.QueryRevDate();
    unit.QueryZoneCount();
    unit.WriteGlobalParam(1, 200);
    unit.QueryType();
    unit.ClosePort();

    // Flushed at the end of the job, with the trace still open.
    const std::string text = ReadWholeFile(path);
    std::vector<TraceLine> lines = TryLines(text);
    ASSERT_GE(lines.size(), 10u) << text;
    // The late type query: how many tries it took depends on the machine's
    // pace; its last line is the answer owed to a try that gave up.
    const TraceLine discarded = lines.back();
    EXPECT_EQ(discarded.request, "?TYP=") << text;
    EXPECT_EQ(discarded.outcome, "discarded late answer") << text;
    EXPECT_NE(discarded.answer.find("MZR 12"), std::string::npos) << text;
    while (lines.size() > 8 && lines.back().request == "?TYP=")
        lines.pop_back();
    ASSERT_EQ(lines.size(), 8u) << text;
    struct Expected
    {
        const char* request;
        const char* outcome;
    };
    const Expected expected[] = {
        {"?AZ#=", "answer"},        // noise before the answer is shown, and dropped
        {"?SER=", "bad checksum"}, {"?SER=", "answer"},
        {"?DAT=", "NAK"},
        {"?KAN=", "no answer"},    {"?KAN=", "no answer"}, {"?KAN=", "no answer"},
        {"TSOLL=0200", "ACK"},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].address, "03");
        EXPECT_EQ(lines[i].request, expected[i].request) << i;
        EXPECT_EQ(lines[i].outcome, expected[i].outcome) << i;
        if (i > 0) {
            EXPECT_GE(lines[i].ms, lines[i - 1].ms) << i;
        }
    }
    EXPECT_NE(lines[0].answer.find("G03:0007"), std::string::npos);
    EXPECT_GT(lines[0].answer.find("G03:0007"), 0u) << "the noise is shown: " << lines[0].answer;
    EXPECT_EQ(lines[0].answer.substr(lines[0].answer.size() - 5), "<ETX>");
    EXPECT_NE(lines[3].answer.find("<NAK>"), std::string::npos) << lines[3].answer;
    EXPECT_EQ(lines[4].answer, "");
    EXPECT_NE(lines[7].answer.find("<ACK>"), std::string::npos) << lines[7].answer;
    // Silence costs a time-out per try: the clock shows it.
    EXPECT_GE(lines[6].ms - lines[4].ms, 2 * 40.0);

    EXPECT_EQ(text.rfind("# test trace, ", 0), 0u) << text;
    EXPECT_NE(text.find("\n# job: " + line.Path() + " at "), std::string::npos) << text;
    // A pseudo-terminal has neither low latency nor a latency timer.
    EXPECT_NE(text.find(" ms, low latency off (not offered by the driver), "), std::string::npos) << text;
}

TEST_F(BusTrace, EachJobRestartsTheClockAndALinkThatFailsIsNamed)
{
    Connect();
    unit.QueryAZNumber();
    unit.ClosePort();
    unit.GetComPort().SetDeviceOverride(dir.File("no-such-port"));
    EXPECT_FALSE(unit.OpenPort());
    unit.GetComPort().SetDeviceOverride(line.Path());
    // A clock that ran on from the first job would show at least this pause
    // in the second job's first try.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto secondBegins = std::chrono::steady_clock::now();
    ASSERT_TRUE(unit.OpenPort());
    unit.QueryAZNumber();
    unit.ClosePort();
    const double secondJobMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - secondBegins).count();

    const std::string text = ReadWholeFile(path);
    EXPECT_NE(text.find("# job: " + dir.File("no-such-port") + " at 9600 baud, cannot be opened: "),
              std::string::npos)
        << text;
    const std::vector<TraceLine> lines = TryLines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    // The second job's try is stamped from that job's own beginning.
    EXPECT_LE(lines[1].ms, secondJobMs) << text;
}
