// The window's costs: process start until the interface dialog shows, and
// filling the three grids of a maximal unit. Both on the offscreen platform.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "mainwindow/DarozozazWindowsDlg.h"
#include "platform/ProgramDir.h"
#include "unit/Unit.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

// A program directory with the shipped resources, removed at the end.
struct ProgramDir
{
    ProgramDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "vorlent-bench-XXXXXX").string();
        path = mkdtemp(tmpl.data());
        for (const char* name : {"GLOBAL.INI", "English.lng", "Deutsch.lng"})
            fs::copy_file(fs::path(VORLENT_RESOURCE_DIR) / name, fs::path(path) / name);
    }
    ~ProgramDir() { fs::remove_all(path); }
    std::string path;
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

void BM_FillThreeGridsMaximalUnit(benchmark::State& state)
{
    ProgramDir dir;
    platform::SetProgramDirectory(dir.path);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "bench_gui";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

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

}  // namespace

BENCHMARK(BM_StartupToInterfaceDialog)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillThreeGridsMaximalUnit)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
