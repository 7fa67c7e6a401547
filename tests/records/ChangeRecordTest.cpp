// The change record: its place, refusals to open, two programs appending at
// once, the value held before each send, and the times its filter reads.
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

TEST(ChangeRecord, ThePathComesFromTheSettingsThenXdgThenHome)
{
    struct Row
    {
        const char *configured, *xdg, *home, *path;
    };
    for (const Row& r : {Row{"/srv/q/changes.csv", "/x", "/h", "/srv/q/changes.csv"},
                         Row{"records/c.csv", "/x", "/h", "/prog/records/c.csv"},
                         Row{"", "/x", "/h", "/x/vorlent/changes.csv"},
                         Row{"", "/x/", "/h/", "/x/vorlent/changes.csv"},
                         Row{"", "", "/h/", "/h/.local/state/vorlent/changes.csv"},
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

TEST(ChangeRecord, TwoProgramsAppendingAtOnceToANewRecordNeverTearALine)
{
    TestDir dir(false);
    const std::string path = dir.File("a/b/changes.csv");
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
    struct stat info{};
    ASSERT_EQ(stat(dir.File("a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
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
                         Row{Outcome({K::Global, 2, 0, 5}, WriteResult::Acknowledged, 5), ""},
                         Row{Outcome({K::SetValue, 0, 1, 160}, WriteResult::Acknowledged, 160), "150"},
                         Row{Outcome({K::ZoneParam, 2, 1, 25}, WriteResult::Acknowledged, 24), "20"},
                         Row{Outcome({K::ZoneParam, 3, 1, 1}, WriteResult::Acknowledged, 1), ""},
                         Row{Outcome({K::Global, 1, 0, 230}, WriteResult::Acknowledged, 230), "210"}})
        recorder.Record(unit, r.outcome);
    ASSERT_TRUE(recorder.End()) << recorder.Error();
    std::vector<std::vector<std::string>> lines;
    std::string error;
    ASSERT_TRUE(records::ReadChangeRecord(dir.File("changes.csv"), lines, error));
    const std::vector<std::string> befores{"200", "210", "", "150", "20", "", "210"};
    ASSERT_EQ(lines.size(), befores.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i][records::kColBefore], befores[i]) << i;
        EXPECT_EQ(lines[i][records::kColDevice], "/dev/ttyS0");
        EXPECT_EQ(lines[i][records::kColAz], "7");
        EXPECT_FALSE(records::ParseIsoTime(lines[i][records::kColTime]) == std::nullopt) << lines[i][0];
    }
}

TEST(ChangeRecord, TimesAreReadWithOrWithoutTheirOffset)
{
    setenv("TZ", "UTC", 1);
    tzset();
    struct Row
    {
        const char* text;
        std::optional<int64_t> ms;
    };
    for (const Row& r : {Row{"2026-12-09", 1796774400000},
                         Row{"2026-12-09 14:30:05.25", 1796826605250},
                         Row{"2026-12-09T15:30:05.250+01:00", 1796826605250},
                         Row{"2026-12-09T14:30:05Z", 1796826605000},
                         Row{"2026-13-09", std::nullopt},
                         Row{"2026-02-30", std::nullopt},
                         Row{"2026-04-31", std::nullopt},
                         Row{"2025-02-29", std::nullopt},
                         Row{"2100-02-29", std::nullopt},
                         Row{"2024-02-29", 1709164800000},
                         Row{"2000-02-29T00:00Z", 951782400000},
                         Row{"2026-12-09T14", std::nullopt},
                         Row{"2026-12-09x", std::nullopt}})
        EXPECT_EQ(records::ParseIsoTime(r.text), r.ms) << r.text;
}

}  // namespace
