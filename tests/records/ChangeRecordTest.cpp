// The change record: its place, its lines, the outcomes as the send job
// reports them, refusals to open, and two programs appending at once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "TestDir.h"
#include "platform/Csv.h"
#include "records/ChangeRecord.h"
#include "unit/Unit.h"

using records::CChangeFile;
using records::CSendRecorder;
using K = SendItem::Kind;

namespace {

SendOutcome Outcome(SendItem item, WriteResult code, int32_t readBack)
{
    return {item, code, readBack, readBack != item.value};
}

TEST(ChangeRecord, TheOutcomeIsTheSendJobsJudgement)
{
    struct Row
    {
        WriteResult code;
        int32_t readBack;
        const char* outcome;
        const char* readBackField;
    };
    const SendItem item{K::Global, 2, 0, 470};
    for (const Row& r : {Row{WriteResult::Acknowledged, 470, "ok", "470"},
                         Row{WriteResult::Acknowledged, 460, "differs", "460"},
                         Row{WriteResult::NotAcknowledged, 450, "nak", "450"},
                         Row{WriteResult::NotAcknowledged, -1, "no-answer", ""},
                         Row{WriteResult::Refused, 450, "refused", "450"}}) {
        SCOPED_TRACE(r.outcome);
        CUnit unit;
        CSendRecorder recorder;
        const auto line = platform::CsvRecords(recorder.Line(unit, Outcome(item, r.code, r.readBack), "t"));
        ASSERT_EQ(line.size(), 1u);
        ASSERT_EQ(line[0].size(), static_cast<std::size_t>(records::kChangeColumns));
        EXPECT_EQ(line[0][records::kColOutcome], r.outcome);
        EXPECT_EQ(line[0][records::kColReadBack], r.readBackField);
        EXPECT_EQ(line[0][records::kColSent], "470");
    }
}

TEST(ChangeRecord, PlacesAreNamedAsTheRecipeNamesThem)
{
    for (const auto& [item, where] : std::vector<std::pair<SendItem, std::string>>{
             {{K::Global, 7, 0, 0}, "Global 07"},
             {{K::ZoneParam, 3, 5, 0}, "Zone05 P03"},
             {{K::SetValue, 0, 5, 0}, "Zone05 P00"},
             {{K::ZoneParam, 12, 100, 0}, "Zone100 P12"}})
        EXPECT_EQ(records::WhereOf(item), where);
}

TEST(ChangeRecord, ThePathComesFromTheSettingsThenXdgThenHome)
{
    struct Row
    {
        const char *configured, *xdg, *home, *path;
    };
    for (const Row& r : {Row{"/srv/q/changes.csv", "/x", "/h", "/srv/q/changes.csv"},
                         Row{"records/c.csv", "/x", "/h", "/prog/records/c.csv"},
                         Row{"", "/x", "/h", "/x/vorlent/changes.csv"},
                         Row{"", "relative", "/h", "/h/.local/state/vorlent/changes.csv"},
                         Row{"", "", "/h", "/h/.local/state/vorlent/changes.csv"},
                         Row{"", "", "", ""}})
        EXPECT_EQ(records::ChangeRecordPath(r.configured, "/prog", r.xdg, r.home), r.path) << r.configured << r.xdg;
}

TEST(ChangeRecord, ARecordThatCannotBeAppendedToIsRefusedAtOpen)
{
    TestDir dir(false);
    mkdir(dir.File("folder").c_str(), 0700);
    dir.Write("readonly.csv", "");
    chmod(dir.File("readonly.csv").c_str(), 0444);
    mkdir(dir.File("closed").c_str(), 0555);
    dir.Write("file", "");
    for (const std::string& path : {std::string(), dir.File("folder"), dir.File("readonly.csv"),
                                    dir.File("closed/changes.csv"), dir.File("file/sub/changes.csv")}) {
        CChangeFile file;
        EXPECT_FALSE(file.Open(path)) << path;
        EXPECT_FALSE(file.Error().empty()) << path;
    }
}

TEST(ChangeRecord, ANewRecordGetsPrivateFoldersAndOneHeader)
{
    TestDir dir(false);
    const std::string path = dir.File("a/b/changes.csv");
    for (int run = 0; run < 2; ++run) {
        CChangeFile file;
        ASSERT_TRUE(file.Open(path)) << file.Error();
        EXPECT_TRUE(file.Append("x\r\n"));
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(ReadWholeFile(path), std::string(records::kChangeHeader) + "\r\nx\r\nx\r\n");
    struct stat info{};
    ASSERT_EQ(stat(dir.File("a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(ChangeRecord, AFailedWriteIsReportedAtTheEnd)
{
    CChangeFile file;
    ASSERT_TRUE(file.Open("/dev/full")) << file.Error();
    EXPECT_FALSE(file.Append("line\r\n"));
    EXPECT_FALSE(file.Close());
    EXPECT_NE(file.Error().find("space"), std::string::npos) << file.Error();
}

TEST(ChangeRecord, TwoProgramsAppendingAtOnceNeverTearALine)
{
    TestDir dir(false);
    const std::string path = dir.File("changes.csv");
    constexpr int kLines = 3000;
    // Long lines make a torn write likely if writes were not whole.
    const std::string filler(300, 'x');
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        if (children[c] == 0) {
            CChangeFile file;
            if (!file.Open(path))
                _exit(2);
            for (int i = 0; i < kLines; ++i)
                file.Append(platform::CsvLine({std::to_string(c), std::to_string(i), filler}));
            _exit(file.Close() ? 0 : 3);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto lines = platform::CsvRecords(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), 1u + 2 * kLines);
    EXPECT_EQ(platform::CsvLine(lines[0]), std::string(records::kChangeHeader) + "\r\n");
    std::set<std::string> seen;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 3u) << i;
        EXPECT_EQ(lines[i][2], filler);
        seen.insert(lines[i][0] + "/" + lines[i][1]);
    }
    EXPECT_EQ(seen.size(), 2u * kLines);
}

TEST(ChangeRecord, BeforeIsWhatTheToolHeldAndFollowsEachAnswer)
{
    TestDir dir(false);
    CUnit unit;
    CSendRecorder recorder;
    UnitValues held;
    held.globals = {200, -1};
    held.setValues = {150};
    held.zoneParams = {{10, 20}};
    recorder.SetHeld(held);
    ASSERT_TRUE(recorder.Begin(dir.File("changes.csv"), {"/dev/ttyS0", 3, 7, "TORVA", "203"}));
    struct Row
    {
        SendOutcome outcome;
        const char* before;
    };
    for (const Row& r : {Row{Outcome({K::Global, 1, 0, 210}, WriteResult::Acknowledged, 210), "200"},
                         Row{Outcome({K::Global, 1, 0, 220}, WriteResult::NotAcknowledged, -1), "210"},
                         Row{Outcome({K::Global, 1, 0, 230}, WriteResult::Acknowledged, 230), "210"},
                         Row{Outcome({K::Global, 2, 0, 5}, WriteResult::Acknowledged, 5), ""},
                         Row{Outcome({K::SetValue, 0, 1, 160}, WriteResult::Acknowledged, 160), "150"},
                         Row{Outcome({K::ZoneParam, 2, 1, 25}, WriteResult::Acknowledged, 24), "20"},
                         Row{Outcome({K::ZoneParam, 2, 1, 26}, WriteResult::Acknowledged, 26), "24"},
                         Row{Outcome({K::ZoneParam, 3, 1, 1}, WriteResult::Acknowledged, 1), ""},
                         Row{Outcome({K::SetValue, 0, 2, 1}, WriteResult::Acknowledged, 1), ""}})
        recorder.Record(unit, r.outcome);
    ASSERT_TRUE(recorder.End()) << recorder.Error();
    std::vector<std::vector<std::string>> lines;
    std::string error;
    ASSERT_TRUE(records::ReadChangeRecord(dir.File("changes.csv"), lines, error));
    const std::vector<std::string> befores{"200", "210", "210", "", "150", "20", "24", "", ""};
    ASSERT_EQ(lines.size(), befores.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i][records::kColBefore], befores[i]) << i;
        EXPECT_EQ(lines[i][records::kColDevice], "/dev/ttyS0");
        EXPECT_EQ(lines[i][records::kColAz], "7");
        EXPECT_FALSE(records::ParseIsoTime(lines[i][records::kColTime]) == std::nullopt) << lines[i][0];
    }
}

TEST(ChangeRecord, TimesAndFiltersSelectLines)
{
    setenv("TZ", "UTC", 1);
    tzset();
    struct Row
    {
        const char* text;
        std::optional<int64_t> ms;
    };
    for (const Row& r : {Row{"2026-12-09", 1796774400000},
                         Row{"2026-12-09T14:30", 1796826600000},
                         Row{"2026-12-09 14:30:05.25", 1796826605250},
                         Row{"2026-12-09T15:30:05.250+01:00", 1796826605250},
                         Row{"2026-12-09T14:30:05Z", 1796826605000},
                         Row{"2026-13-09", std::nullopt},
                         Row{"09.12.2026", std::nullopt},
                         Row{"2026-12-09T14", std::nullopt},
                         Row{"2026-12-09x", std::nullopt}})
        EXPECT_EQ(records::ParseIsoTime(r.text), r.ms) << r.text;

    std::vector<std::string> line(records::kChangeColumns);
    line[records::kColTime] = "2026-12-09T14:30:00.000+00:00";
    line[records::kColAz] = "7";
    line[records::kColAddress] = "3";
    struct FilterRow
    {
        records::ChangeFilter filter;
        bool matches;
    };
    for (const FilterRow& r : {FilterRow{{}, true}, FilterRow{{7, -1, {}}, true}, FilterRow{{8, -1, {}}, false},
                               FilterRow{{-1, 3, {}}, true}, FilterRow{{-1, 4, {}}, false},
                               FilterRow{{-1, -1, 1796826600000}, true}, FilterRow{{-1, -1, 1796826600001}, false}})
        EXPECT_EQ(r.filter.Matches(line), r.matches);
}

}  // namespace
