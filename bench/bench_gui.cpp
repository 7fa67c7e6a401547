// The window's costs: process start until the interface dialog shows,
// filling the three grids of a maximal unit, filling its zone parameter grid
// with the widest values, and the longest time the
// user-interface thread is kept from its events while a unit loads its
// standard parameters. All on the offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchGui.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/ProgramDir.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

// A program directory with the shipped resources, removed at the end.
struct ProgramDir : bench::TempFolder
{
    ProgramDir()
    {
        for (const char* name : {"GLOBAL.INI", "English.lng", "Deutsch.lng"})
            fs::copy_file(fs::path(VORLENT_RESOURCE_DIR) / name, fs::path(path) / name);
    }
};

// From exec to the interface dialog on screen: the program reports the
// moment on its standard output when VORLENT_STARTUP_PROBE is set.
void BM_StartupToInterfaceDialog(benchmark::State& state)
{
    ProgramDir dir;
    setenv("VORLENT_HOME", dir.path.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("VORLENT_STARTUP_PROBE", "1", 1);
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(VORLENT_PROGRAM), nullptr};
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, VORLENT_PROGRAM, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the program");
            break;
        }
        close(out[1]);
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&actions);
        if (n <= 0) {
            state.SkipWithError("the program did not report its interface dialog");
            break;
        }
        state.SetIterationTime(took.count());
    }
    unsetenv("VORLENT_STARTUP_PROBE");
}

QApplication& App() { return bench::App("bench_gui"); }

void BM_FillThreeGridsMaximalUnit(benchmark::State& state)
{
    ProgramDir dir;
    platform::SetProgramDirectory(dir.path);
    App();

    CUnit& unit = TheUnit();
    std::vector<GlobalParamDef> catalogue(63);
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        catalogue[i].pCommand = "P" + std::to_string(i) + "=";
        catalogue[i].pDescriptionE = catalogue[i].pDescriptionD = "Parameter " + std::to_string(i);
        catalogue[i].nMaxVal = 999;
        catalogue[i].nValue = static_cast<int32_t>(i);
    }
    unit.SetGlobalParams(catalogue);
    unit.SetZoneCount(128);
    unit.SetZoneParamCount(64);
    for (int16_t z = 1; z <= 128; ++z) {
        unit.WriteSetValue(z, 100 + z);
        unit.SetActualValue(z, 90 + z);
        for (int16_t p = 1; p <= 64; ++p)
            unit.WriteZoneParam(z, p, z * p);
    }

    CDarozozazWindowsDlg window;
    if (!window.OnInitDialog()) {
        state.SkipWithError("no language file");
        return;
    }
    // Not shown: a shown window would start its start-up sequence, whose
    // interface dialog waits for a user. The grid on show is still hidden and
    // shown again by its fill.
    window.ShowView(2);
    for (auto _ : state) {
        for (int g = 0; g < 3; ++g)
            window.FillGrid(g, false, false);
        QApplication::processEvents();
    }
    platform::SetProgramDirectory("");
}

// One fill of the zone parameter grid of a 128-zone unit with 64 zone
// parameters, every cell a different value near the widest such a unit
// holds (width 5, hexadecimal commands): the cost of a fill that sizes each
// column to its texts, with no two texts alike.
void BM_FillZoneParamGridWidestValues(benchmark::State& state)
{
    ProgramDir dir;
    platform::SetProgramDirectory(dir.path);
    App();

    CUnit& unit = TheUnit();
    unit.SetGlobalParams({});
    unit.SetZoneCount(128);
    unit.SetZoneParamCount(64);
    for (int16_t z = 1; z <= 128; ++z) {
        for (int16_t p = 1; p <= 64; ++p)
            unit.WriteZoneParam(z, p, (z + p) % 2 ? -0x80000 + 64 * z + p : 0x7FFFF - 64 * z - p);
    }

    CDarozozazWindowsDlg window;
    if (!window.OnInitDialog()) {
        state.SkipWithError("no language file");
        return;
    }
    window.ShowView(1);
    for (auto _ : state) {
        window.FillGrid(1, false, false);
        QApplication::processEvents();
    }
    platform::SetProgramDirectory("");
}

// Load standard parameters against a unit that is silent for 3 s after
// "XSTD=", on a line paced at 19200 baud with the default time-out of
// 200 ms, as the receive's benchmark runs. A 1 ms heartbeat timer on the
// user-interface thread measures the longest gap between two of its ticks:
// the longest the window could not paint or take a click. For scale, the
// longest single exchange on this line is a poll the silent unit does not
// answer (three tries of 220 ms).
void BM_StandardParamsLongestUiBlock(benchmark::State& state)
{
    ProgramDir dir;
    platform::SetProgramDirectory(dir.path);
    App();

    unitsim::SimBus bus;
    unitsim::SimUnitConfig config;
    config.address = 9;
    config.azNumber = 42;
    config.type = "MZR 12";
    config.zones = 120;
    config.zoneParamCount = 10;
    config.valueWidth = 5;
    config.restartSeconds = 3.0;
    bus.AddUnit(config);
    unitsim::PtyServer server(bus);
    if (!server.Start(19200)) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    CUnit& unit = TheUnit();
    unit.GetComPort().SetDeviceOverride(server.SlavePath());
    unit.SetInterface(1, 19200);
    unit.SetLineSettings(0, 8, 0, 200);
    unit.SetGlobalParams({});

    CDarozozazWindowsDlg window;
    if (!window.OnInitDialog()) {
        state.SkipWithError("no language file");
        return;
    }
    // The question is answered Yes; every dialog runs and ends by itself.
    SetMessageBoxHook([](const MessageBoxRequest& request) {
        return request.buttons == MsgButtons::YesNo ? static_cast<int>(kIdYes) : static_cast<int>(kIdOk);
    });
    SetModalHook([](QDialog&) {});
    window.OnDevicesItem(9, config.type);
    window.OnUnitPicked(9);

    using Clock = std::chrono::steady_clock;
    double longestMs = 0;
    double totalS = 0;
    for (auto _ : state) {
        bench::Heartbeat heartbeat;
        heartbeat.Start();
        const Clock::time_point start = Clock::now();
        window.OnCommand(cmd::kLoadStandardParams);
        const std::chrono::duration<double> took = Clock::now() - start;
        // The gap up to the command's return counts too.
        heartbeat.StopWithLastGap();
        state.SetIterationTime(took.count());
        longestMs = std::max(longestMs, heartbeat.LongestMs());
        totalS += took.count();
    }
    SetModalHook(nullptr);
    SetMessageBoxHook(nullptr);
    state.counters["longest_block_ms"] = longestMs;
    state.counters["command_s"] = totalS / static_cast<double>(state.iterations());
    state.counters["received_again"] = unit.QueryZoneCount() == 120 ? 1 : 0;
    platform::SetProgramDirectory("");
}

}  // namespace

BENCHMARK(BM_StartupToInterfaceDialog)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillThreeGridsMaximalUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillZoneParamGridWidestValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandardParamsLongestUiBlock)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
