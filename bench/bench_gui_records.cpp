// The change history on a record of 100 000 lines: from the menu command to
// the dialog on show (reading and parsing the file included), and one
// filter over all its lines. Offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchGui.h"
#include "platform/Csv.h"
#include "records/ChangeRecord.h"
#include "records/qt/ChangeHistoryModel.h"
#include "records/qt/DlgChangeHistory.h"

namespace {

constexpr int kLines = 100000;

QApplication& App() { return bench::App("bench_gui_records"); }

// A record as weeks of sends leave it: one unit, the others' lines mixed in.
struct Record : bench::TempFolder
{
    Record()
    {
        file = path + "/changes.csv";
        std::ofstream out(file, std::ios::binary);
        out << records::kChangeHeader << "\r\n";
        const char* outcomes[] = {"ok", "ok", "ok", "differs", "nak", "no-answer", "refused"};
        for (int i = 0; i < kLines; ++i) {
            char what[24];
            std::snprintf(what, sizeof what, "Zone%02d P%02d", 1 + i % 48, i % 12);
            out << platform::CsvLine({"2026-12-09T14:03:07.250+01:00", "operator", "line-3-pc", "/dev/ttyUSB0",
                                      std::to_string(1 + i % 3), i % 10 ? "7" : "12", "TORVA 3", "203", what, "",
                                      std::to_string(i % 500), std::to_string(i % 500 + 5),
                                      std::to_string(i % 500 + 5), outcomes[i % 7]});
        }
    }
    std::string file;
};

void BM_ChangeHistoryOpen100k(benchmark::State& state)
{
    App();
    Record record;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::vector<std::string>> lines;
        std::string error;
        if (!records::ReadChangeRecord(record.file, lines, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        CDlgChangeHistory dialog(lines, 7);
        dialog.show();
        QApplication::processEvents();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        state.counters["rows"] = dialog.Model().rowCount();
    }
}

void BM_ChangeHistoryFilter100k(benchmark::State& state)
{
    App();
    Record record;
    std::vector<std::vector<std::string>> lines;
    std::string error;
    records::ReadChangeRecord(record.file, lines, error);
    CChangeHistoryModel model(lines);
    for (auto _ : state) {
        model.SetFilter("Zone05 P03");
        model.SetFilter({});
    }
}

}  // namespace

BENCHMARK(BM_ChangeHistoryOpen100k)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeHistoryFilter100k)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
