// vorlent-cli's change record, diff, log and export, as a separate process
// against the simulated bus.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <mutex>
#include <optional>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "monitor/CsvRecorder.h"
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
    line.Bus().AddFault(Fault(FaultKind::Silence, "K07P02=0066"));  // the write only: its read-back answers
    Start();
    const int32_t zone7p2 = SimZoneParam(7, 2);
    const int32_t zone5p3 = SimZoneParam(5, 3);
    const int32_t zone6p1 = SimZoneParam(6, 1);
    Edit(recipe, "GLOBAL_PARAMETERS", "01", "900 - Setpoint");  // above MaxVal 500
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    EditZone(recipe, 5, 1 + 3, 250);
    EditZone(recipe, 6, 1 + 1, 77);
    EditZone(recipe, 4, 1, 199);
    EditZone(recipe, 7, 1 + 2, 66);

    CIniFile type(recipe, true);
    type.ReadString("UNIT", "Unit-Type");
    const Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("zone 7 P02: sent 66, no answer to the write, read " + std::to_string(zone7p2)),
              std::string::npos) << r.err;
    const auto lines = RecordLines(DefaultRecord());
    const std::vector<std::vector<std::string>> expected{
        {"Global 01", "Setpoint", "180", "900", "180", "refused"},
        {"Global 02", "Maximum temperature", "450", "460", "460", "ok"},
        {"Zone05 P03", "", std::to_string(zone5p3), "250", "-1", "differs"},
        {"Zone06 P01", "", std::to_string(zone6p1), "77", "", "no-answer"},
        {"Zone07 P02", "", std::to_string(zone7p2), "66", std::to_string(zone7p2), "no-answer"},
        {"Zone04 P00", "", "", "199", "", "nak"}};
    ASSERT_EQ(lines.size(), expected.size()) << ReadWholeFile(DefaultRecord());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string>& l = lines[i];
        std::vector<std::string> got(l.begin() + records::kColWhat, l.end());
        // The set value's before and read-back are the unit's; compared apart.
        if (i == 5) {
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

TEST_F(CliRecords, ARecordThatTakesNoLineStopsTheSendBeforeItsFirstWrite)
{
    Start("/dev/full");
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    const Result r = Run({"send", "3", recipe});
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("stopped after 0 of 1 values, nothing was sent"), std::string::npos) << r.err;
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(SimGlobal(2), 450);
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
                                           {{"log", "--since", "5.12.2026"}, 2, ""},
                                           {{"log", "--since", "2026-02-30"}, 2, ""},
                                           {{"log", "--az"}, 2, ""}}) {
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

namespace {

// The value a write request carries ("K05P03=0250" carries 250), nullopt for
// a read.
std::optional<int> WrittenValue(const std::string& text)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 >= text.size())
        return std::nullopt;
    return std::stoi(text.substr(equals + 1));
}

// A command line, its exit status, and a text its output must be (or, for
// a failure, its messages must hold).
struct CommandRow
{
    std::vector<std::string> args;
    int status;
    std::string text;
};

const char* const kOldLine = "2026-12-01T08:00:00.000+01:00,u,h,/dev/ttyS0,3,7,T,1,Global 01,,1,2,2,ok\r\n";

}  // namespace

// However little room the disk has, every write that reached the unit has its
// line in the record, the record holds whole lines only (a torn line left by
// an earlier full disk is cut off first), and the send stops at the first
// line it cannot write. A limit on the file size stands for the full disk: it
// holds for root too.
TEST_F(CliRecords, AFullDiskNeverLetsAWriteOutWithoutItsLine)
{
    Start();
    std::string history = std::string(records::kChangeHeader) + "\r\n";
    for (int i = 0; i < 30; ++i)
        history += kOldLine;
    std::vector<std::vector<int32_t>> original;
    {
        std::lock_guard lock(line.Bus().Mutex());
        original = line.Bus().UnitAt(3)->zoneParams;
    }
    for (int z = 1; z <= 6; ++z)
        for (int p = 1; p <= 2; ++p)
            EditZone(recipe, z, 1 + p, 300 + z * 10 + p);
    std::filesystem::create_directories(work.File("state/vorlent"));
    struct Row
    {
        const char* what;
        long room;  // bytes the record may grow by; -1 without limit
    };
    for (const Row& row : {Row{"no room", 0}, Row{"half a line", 60}, Row{"a few lines", 350},
                           Row{"most lines", 1500}, Row{"room enough", -1}}) {
        SCOPED_TRACE(row.what);
        work.Write("state/vorlent/changes.csv", history + "2026-12-10T");
        {
            std::lock_guard lock(line.Bus().Mutex());
            line.Bus().UnitAt(3)->zoneParams = original;
        }
        line.Bus().ClearRequests();

        rlimit old{}, limit{};
        getrlimit(RLIMIT_FSIZE, &old);
        limit = {row.room < 0 ? old.rlim_cur : static_cast<rlim_t>(history.size() + row.room), old.rlim_max};
        signal(SIGXFSZ, SIG_IGN);  // the child inherits both: a short write instead of a signal
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Result r = Run({"send", "3", recipe});
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, SIG_DFL);

        std::vector<std::string> written;
        for (const unitsim::SimRequest& request : line.Bus().Requests()) {
            if (const auto value = WrittenValue(request.text))
                written.push_back(std::to_string(*value));
        }
        const std::string raw = ReadWholeFile(DefaultRecord());
        records::ChangeReadNotes notes;
        const auto lines = records::ParseChangeRecord(raw, notes);
        std::vector<std::string> recorded;
        for (const auto& l : lines)
            if (l[records::kColWhat] != "Global 01")
                recorded.push_back(l[records::kColSent]);
        EXPECT_EQ(recorded, written) << r.err;
        EXPECT_EQ(notes.nDamaged, 0);
        EXPECT_EQ(raw.substr(0, history.size()), history);
        EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
        EXPECT_NE(r.err.find("11 bytes, left by an interrupted write); it was cut off"), std::string::npos) << r.err;
        if (row.room < 0) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(written.size(), 12u);
        } else {
            EXPECT_EQ(r.status, 7) << r.err;
            EXPECT_LT(written.size(), 12u);
            EXPECT_NE(r.err.find("the send stopped after " + std::to_string(written.size()) + " of 12 values"),
                      std::string::npos) << r.err;
        }
    }
}

// log reads a record line by line: what is no record line (a stray quote, a
// line glued to a torn one, another file's line) is skipped and counted, and
// never hides the lines after it; an unconfirmed line whose outcome followed
// shows as that outcome only; text comes back without its spreadsheet guard.
// A file that is no change record is refused by log and by send alike.
TEST_F(CliRecords, LogSkipsAndCountsWhatIsNoRecordLine)
{
    using Fields = std::vector<std::string>;
    const auto fields = [](const char* time, const char* address, const char* type, const char* outcome) {
        return Fields{time, "u", "h", "/dev/ttyS0", address, "7", type, "1", "Global 01", "-Setpoint", "1", "2",
                      "", outcome};
    };
    const Fields a3 = fields("2026-12-09T08:00:00.000+00:00", "3", "T", "ok");
    const Fields a5 = fields("2026-12-10T09:00:00.000+00:00", "5", "T", "ok");
    const Fields a4 = fields("2026-12-10T10:00:00.000+00:00", "4", "=HYPERLINK(\"http://x\",\"y\")", "differs");
    const Fields pending = fields("2026-12-10T11:00:00.000+00:00", "4", "T", "unconfirmed");
    const Fields settled = fields("2026-12-10T11:00:00.000+00:00", "4", "T", "nak");
    const Fields orphan = fields("2026-12-10T12:00:00.000+00:00", "4", "T", "unconfirmed");
    const std::string header = std::string(records::kChangeHeader) + "\r\n";
    const std::string text =
        header + records::ChangeLine(a3) + "2026-12-10T09:30:00.000+00:00,u,h,/dev/ttyS0,5,7,T\",1,Global 01,,1,2,,ok\r\n" +
        records::ChangeLine(a5) + "2026-12-10T2026-12-10T09:45:00.000+00:00,u,h,/dev/ttyS0,4,7,T,1,Global 01,,1,2,,ok\r\n" +
        records::ChangeLine(a4) + records::ChangeLine(pending) + "a,b,c\r\n" + records::ChangeLine(settled) +
        records::ChangeLine(orphan);
    EXPECT_NE(text.find(",'-Setpoint,"), std::string::npos);
    EXPECT_NE(text.find(",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","), std::string::npos);
    std::filesystem::create_directories(work.File("state/vorlent"));
    work.Write("state/vorlent/changes.csv", text);
    Start();
    const auto out = [&](const std::vector<Fields>& lines) {
        std::string expected = header;
        for (const Fields& l : lines)
            expected += platform::CsvLine(l);
        return expected;
    };
    for (const CommandRow& row : std::vector<CommandRow>{{{"log"}, 1, out({a3, a5, a4, settled, orphan})},
                                           {{"log", "--address", "4"}, 1, out({a4, settled, orphan})},
                                           {{"log", "--since", "2026-12-10T00:00Z"}, 1, out({a5, a4, settled, orphan})},
                                           {{"log", "--address", "5", "--since", "2026-12-10T09:00:00Z"}, 1, out({a5})}}) {
        const Result r = Run(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.text);
        EXPECT_EQ(r.err, "vorlent-cli: 3 damaged lines skipped in " + DefaultRecord() + "\n");
    }

    // Another file at the record's place, named or behind a link.
    Edit(recipe, "GLOBAL_PARAMETERS", "02", "460 - Maximum temperature");
    work.Write("state/vorlent/changes.csv", "a,b,c\r\n1,2,3\r\n");
    std::filesystem::create_symlink(DefaultRecord(), work.File("link.csv"));
    for (const std::string& changeLog : {std::string(), work.File("link.csv")}) {
        SCOPED_TRACE(changeLog);
        home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=0\r\nTimeout=20\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n" +
                                     (changeLog.empty() ? "" : "ChangeLog=" + changeLog + "\r\n"));
        Result r = Run({"log"});
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_EQ(r.out, "");
        r = Run({"send", "3", recipe});
        EXPECT_EQ(r.status, 7) << r.err;
        EXPECT_NE(r.err.find("is not a change record"), std::string::npos) << r.err;
        EXPECT_EQ(Writes(), 0);
        EXPECT_EQ(ReadWholeFile(DefaultRecord()), "a,b,c\r\n1,2,3\r\n");
    }
}

// A unit's type and a description that a spreadsheet would run as formulas
// go into the record and the export as text.
TEST_F(CliRecords, TextThatASpreadsheetWouldRunIsWrittenAsText)
{
    home.Write("GLOBAL.INI", "[GLOBAL_PARAM_00]\r\nDescription_d=@SUMME(A1)\r\nDescription_e=@SUM(A1)\r\nMinVal=0\r\n"
                             "MaxVal=500\r\nCommand=TSOLL\r\n[GLOBAL_PARAM_01]\r\nDescription_d=-Rampe\r\n"
                             "Description_e=+Ramp\r\nMinVal=0\r\nMaxVal=600\r\nCommand=TMAX\r\n");
    const std::string type = "=HYPERLINK(\"http://x\",\"y\")";
    line.Bus().UnitAt(3)->type = type;
    Start();
    Edit(recipe, "GLOBAL_PARAMETERS", "01", "190 - @SUM(A1)");
    ASSERT_EQ(Run({"send", "3", recipe}).status, 0);
    const std::string raw = ReadWholeFile(DefaultRecord());
    EXPECT_NE(raw.find(",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",203,Global 01,'@SUM(A1),180,190,190,ok\r\n"),
              std::string::npos) << raw;
    const auto lines = RecordLines(DefaultRecord());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][records::kColType], type);
    EXPECT_EQ(lines[0][records::kColName], "@SUM(A1)");
    const Result r = Run({"log"});
    EXPECT_NE(r.out.find(",\"=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",203,Global 01,@SUM(A1),"), std::string::npos);

    const Result csv = Run({"export", recipe});
    EXPECT_EQ(csv.out.rfind("what,name,value\r\nGlobal 01,'@SUM(A1),190\r\nGlobal 02,'+Ramp,450\r\nZone01 P00,Zone 01 · Set value,", 0), 0u)
        << csv.out;
}

// A recipe that says a value unclearly is no recipe for any command, with its
// line named; a missing one says so; an export never replaces a file unasked.
TEST_F(CliRecords, ADamagedOrMissingRecipeIsRefusedByEveryCommand)
{
    Start();
    const std::string damaged = work.File("damaged.7");
    work.Write("damaged.7", ReadWholeFile(recipe));
    Edit(damaged, "ZONE_PARAMETERS", "Zone03", "    20   1x2     5     5     5     5     5");
    const std::string missing = work.File("missing.7");
    work.Write("taken.csv", "someone's work\r\n");
    for (const CommandRow& row : std::vector<CommandRow>{
             {{"send", "3", damaged}, 4, "is not a recipe file: line "},
             {{"diff", recipe, damaged}, 4, "is not a recipe file: line "},
             {{"diff", "--unit", "3", damaged}, 4, ": the set value of zone 3 is not a whole number"},
             {{"export", damaged}, 4, "is not a recipe file: line "},
             {{"send", "3", missing}, 4, missing + " is not a recipe file: there is no such file"},
             {{"export", missing, "--csv", "-"}, 4, "there is no such file"},
             {{"export", recipe, "--csv", work.File("taken.csv")}, 7, "exists already; nothing written"},
             {{"export", recipe, "--csv", work.File("taken.csv"), "--force"}, 0, ""},
             {{"export", recipe, "--force", "--csv", work.File("new.csv")}, 0, ""}}) {
        const Result r = Run(row.args);
        EXPECT_EQ(r.status, row.status) << row.args[0] << " " << row.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(row.text), std::string::npos) << r.err;
    }
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(ReadWholeFile(work.File("taken.csv")).rfind("what,name,value\r\n", 0), 0u);
}

// monitor --append onto a recording that a crash left with a torn last line
// cuts the fragment off, says so, and adds whole rows.
TEST_F(CliRecords, MonitorAppendCutsATornLastLineOff)
{
    Start();
    const std::string path = work.File("live.csv");
    const std::string whole = CCsvRecorder::HeaderLine(8) + "2026-12-10T08:00:00.000+00:00,3,20,180\r\n";
    work.Write("live.csv", whole + "2026-12-10T08:00:01.0");
    const Result r = Run({"monitor", "3", "--count", "1", "--interval", "0", "--csv", path, "--append"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cut off"), std::string::npos) << r.err;
    const std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.substr(0, whole.size()), whole);
    const auto rows = platform::CsvRecords(text);
    ASSERT_EQ(rows.size(), 3u) << text;
    EXPECT_EQ(rows[2].size(), 2u + 2 * 8) << text;
    EXPECT_EQ(rows[2][1], "3");
}
