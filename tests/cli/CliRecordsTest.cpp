// vorlent-cli's change record, diff, log and export, as a separate process
// against the simulated bus.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "platform/Csv.h"
#include "records/ChangeRecord.h"

using unitsim::FaultKind;

namespace {

struct Result
{
    int status = -1;
    std::string out, err;
};

class CliRecords : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.Write("GLOBAL.INI",
                   "[GLOBAL_PARAM_00]\r\nDescription_d=Sollwert\r\nDescription_e=Setpoint\r\nMinVal=0\r\nMaxVal=500\r\n"
                   "Command=TSOLL\r\n[GLOBAL_PARAM_01]\r\nDescription_d=Maximaltemperatur\r\n"
                   "Description_e=Maximum temperature\r\nMinVal=0\r\nMaxVal=600\r\nCommand=TMAX\r\n");
        home.CopyResource("English.lng");
        for (const auto& [address, az] : {std::pair{3, 7}, std::pair{12, 12}}) {
            auto unit = MakeSimUnit(address, az, 8, 5);
            unit.type = "TORVA 3";
            unit.globals = {{"TSOLL", 180, 0, 500}, {"TMAX", 450, 0, 600}};
            line.Bus().AddUnit(unit);
        }
    }

    void Start(const std::string& changeLog = "")
    {
        home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=0\r\nTimeout=20\r\n[GENERAL]\r\nLanguage=ENGLISH\r\nAnzPar=10\r\n" +
                                     (changeLog.empty() ? "" : "ChangeLog=" + changeLog + "\r\n"));
        line.Start();
        ASSERT_EQ(Run({"receive", "3", recipe}).status, 0);
        line.Bus().ClearRequests();
    }

    Result Run(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {VORLENT_CLI, "--home", home.Path(), "--device", line.Path()};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string outPath = work.File("out"), errPath = work.File("err");
        const int status = ExitStatusOf(SpawnWithOutput(std::move(argv), outPath, errPath));
        return {status, ReadWholeFile(outPath), ReadWholeFile(errPath)};
    }

    // Column 0 is the actual value, 1 the set value, 1 + p parameter p.
    void EditZone(const std::string& path, int zone, int column, int value)
    {
        const std::string key = "Zone0" + std::to_string(zone);
        CIniFile file(path, true);
        file.ReadString("ZONE_PARAMETERS", key);
        std::string text = file.GetValue();
        while (text.size() % 6)
            text.insert(text.begin(), ' ');
        char cell[8];
        std::snprintf(cell, sizeof cell, "%6d", value);
        text.replace(static_cast<std::size_t>(column) * 6, 6, cell);
        Edit(path, "ZONE_PARAMETERS", key, text);
    }
    void Edit(const std::string& path, const std::string& section, const std::string& key, const std::string& value)
    {
        CIniFile file(path, true);
        file.SetValue(value);
        ASSERT_TRUE(file.WriteString(section, key));
    }

    int32_t SimZoneParam(int zone, int p)
    {
        std::lock_guard lock(line.Bus().Mutex());
        return line.Bus().UnitAt(3)->zoneParams[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(zone - 1)];
    }
    int32_t SimGlobal(int i)
    {
        std::lock_guard lock(line.Bus().Mutex());
        return line.Bus().UnitAt(3)->globals[static_cast<std::size_t>(i - 1)].value;
    }
    // Requests that carry a value: writes.
    int Writes()
    {
        int writes = 0;
        for (const unitsim::SimRequest& request : line.Bus().Requests())
            writes += request.text.find('=') + 1 < request.text.size();
        return writes;
    }
    std::vector<std::vector<std::string>> RecordLines(const std::string& path)
    {
        std::vector<std::vector<std::string>> lines;
        std::string error;
        EXPECT_TRUE(records::ReadChangeRecord(path, lines, error)) << error;
        return lines;
    }
    std::string DefaultRecord() const { return work.File("state/vorlent/changes.csv"); }

    TestDir home{false};
    TestDir work{false};
    SimLine line;
    std::string recipe = work.File("unit3.7");
};

}  // namespace

TEST_F(CliRecords, ASendRecordsEveryValueOnceWithItsOutcome)
{
    line.Bus().AddFault(Fault(FaultKind::Nak, "K04P00=0"));        // the write of a set value
    unitsim::SimFault readBack = Fault(FaultKind::Nak, "K05P03=", 3);
    readBack.skip = 1;                                               // the write passes, its read-back fails
    line.Bus().AddFault(readBack);
    line.Bus().AddFault(Fault(FaultKind::Silence, "K06P01="));
    Start();
    const int32_t zone5p3 = SimZoneParam(5, 3);
    const int32_t zone6p1 = SimZoneParam(6, 1);
    Edit(recipe, "GLOBAL_PARAMETERS", "01", "900 - Setpoint");  // above MaxVal 500
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    EditZone(recipe, 5, 1 + 3, 250);
    EditZone(recipe, 6, 1 + 1, 77);
    EditZone(recipe, 4, 1, 199);

    CIniFile type(recipe, true);
    type.ReadString("UNIT", "Unit-Type");
    const Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 5) << r.err;
    const auto lines = RecordLines(DefaultRecord());
    const std::vector<std::vector<std::string>> expected{
        {"Global 01", "Setpoint", "180", "900", "180", "refused"},
        {"Global 02", "Maximum temperature", "450", "460", "460", "ok"},
        {"Zone05 P03", "", std::to_string(zone5p3), "250", "-1", "differs"},
        {"Zone06 P01", "", std::to_string(zone6p1), "77", "", "no-answer"},
        {"Zone04 P00", "", "", "199", "", "nak"}};
    ASSERT_EQ(lines.size(), expected.size()) << ReadWholeFile(DefaultRecord());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string>& l = lines[i];
        std::vector<std::string> got(l.begin() + records::kColWhat, l.end());
        // The set value's before and read-back are the unit's; compared apart.
        if (i == 4) {
            EXPECT_EQ(got[2], got[4]);
            got[2] = got[4] = "";
        }
        EXPECT_EQ(got, expected[i]);
        EXPECT_EQ(std::vector<std::string>(l.begin() + records::kColDevice, l.begin() + records::kColWhat),
                  (std::vector<std::string>{line.Path(), "3", "7", type.GetValue(), "203"}));
        EXPECT_FALSE(l[records::kColUser].empty() || l[records::kColHost].empty());
    }
}

TEST_F(CliRecords, ARecordThatCannotBeOpenedStopsTheSendUnlessNoRecordIsGiven)
{
    Start(work.Path());  // a folder
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");

    Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("change record " + work.Path()), std::string::npos) << r.err;
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(SimGlobal(2), 450);

    r = Run({"send", "3", recipe, "--no-record"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Writes(), 1);
    EXPECT_EQ(SimGlobal(2), 460);
}

TEST_F(CliRecords, AFailureWhileRecordingIsToldAfterTheSendWhichStands)
{
    Start("/dev/full");
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    const Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("values were sent"), std::string::npos) << r.err;
    EXPECT_EQ(SimGlobal(2), 460);
}

TEST_F(CliRecords, DiffAnswersAsDiffDoes)
{
    Start();
    const std::string same = work.File("same.7"), edited = work.File("edited.7"), other = work.File("other.7");
    work.Write("same.7", ReadWholeFile(recipe));
    work.Write("edited.7", ReadWholeFile(recipe));
    work.Write("other.7", ReadWholeFile(recipe));
    work.Write("notes.txt", "no recipe\n");
    Edit(edited, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    EditZone(edited, 5, 1 + 3, 250);
    Edit(other, "UNIT", "AZ-Number", "12");
    const std::string differences =
        "Global 02\t450\t460\nZone05 P03\t" + std::to_string(SimZoneParam(5, 3)) + "\t250\n";
    struct Row
    {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    for (const Row& row : std::vector<Row>{{{"diff", recipe, same}, 0, ""},
                                           {{"diff", recipe, edited}, 1, differences},
                                           {{"diff", "--unit", "3", recipe}, 0, ""},
                                           {{"diff", "--unit", "3", edited}, 1, differences},
                                           {{"diff", recipe, other}, 4, ""},
                                           {{"diff", recipe, work.File("notes.txt")}, 4, ""},
                                           {{"diff", "--unit", "12", recipe}, 4, ""},
                                           {{"diff", "--unit", "20", recipe}, 3, ""},
                                           {{"diff", recipe}, 2, ""},
                                           {{"diff", "--unit", "31", recipe}, 2, ""},
                                           {{"diff", "--unit", "3", recipe, same}, 2, ""}}) {
        const Result r = Run(row.args);
        EXPECT_EQ(r.status, row.status) << row.args[1] << " " << row.args.back() << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << row.args.back();
        EXPECT_EQ(r.err.empty(), row.status < 2) << r.err;
    }
    EXPECT_EQ(Writes(), 0);
}

TEST_F(CliRecords, LogPrintsTheMatchingLinesWithTheHeader)
{
    Start();
    const std::vector<std::string> lines{
        "2026-12-01T08:00:00.000+01:00,u,h,/dev/ttyS0,3,7,T,1,Global 01,,1,2,2,ok\r\n",
        "2026-12-05T08:00:00.000+01:00,u,h,/dev/ttyS0,4,7,T,1,Global 01,,1,2,2,ok\r\n",
        "2026-12-09T08:00:00.000+01:00,u,h,/dev/ttyS0,3,12,T,1,Zone05 P00,,1,2,,nak\r\n"};
    const std::string header = std::string(records::kChangeHeader) + "\r\n";
    std::filesystem::create_directories(work.File("state/vorlent"));
    work.Write("state/vorlent/changes.csv", header + lines[0] + lines[1] + lines[2]);
    struct Row
    {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    for (const Row& row : std::vector<Row>{{{"log"}, 0, header + lines[0] + lines[1] + lines[2]},
                                           {{"log", "--az", "7", "--address", "3"}, 0, header + lines[0]},
                                           {{"log", "--since", "2026-12-05"}, 0, header + lines[1] + lines[2]},
                                           {{"log", "--since", "5.12.2026"}, 1, ""},
                                           {{"log", "--az"}, 1, ""}}) {
        const Result r = Run(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
    }
}

TEST_F(CliRecords, ExportWritesTheRecipeAsCsv)
{
    Start();
    const Result r = Run({"export", recipe, "--csv", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("what,name,value\r\nGlobal 01,Setpoint,180\r\nGlobal 02,Maximum temperature,450\r\nZone01 P00,", 0),
              0u) << r.out;
    // Two globals, 8 zones of a set value and 5 parameters, the header.
    EXPECT_EQ(platform::CsvRecords(r.out).size(), 1u + 2 + 8 * 6);
    EXPECT_EQ(Run({"export", recipe, "--csv"}).status, 1);
}
