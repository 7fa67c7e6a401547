// The interface dialog's start: probing the ports 1..15 before it shows. Ten
// of them stand for pseudo-terminals, five for paths that do not exist, and
// the machine runs about 300 processes, each of whose descriptors the probe
// has to look at to find a program that holds a port without a lock.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "config/qt/DlgSelectInterface.h"
#include "config/TextMemory.h"
#include "platform/ProgramDir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kProcesses = 300;

int CountProcesses()
{
    int n = 0;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc))
            n += (e->d_name[0] >= '1' && e->d_name[0] <= '9');
        closedir(proc);
    }
    return n;
}

// Sleeping children that bring the machine up to kProcesses, each with the
// descriptors it inherits; ended with the object.
struct Crowd
{
    explicit Crowd(int total)
    {
        for (int n = CountProcesses(); n < total; ++n) {
            const pid_t pid = fork();
            if (pid == 0) {
                // Not one of them outlives the benchmark, however it ends.
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                pause();
                _exit(0);
            }
            if (pid < 0)
                break;
            pids.push_back(pid);
        }
    }
    ~Crowd()
    {
        for (pid_t pid : pids)
            kill(pid, SIGTERM);
        for (pid_t pid : pids)
            waitpid(pid, nullptr, 0);
    }
    std::vector<pid_t> pids;
};

void BM_InterfaceDialogStart(benchmark::State& state)
{
    std::string tmpl = (fs::temp_directory_path() / "vorlent-bench-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    fs::copy_file(fs::path(VORLENT_RESOURCE_DIR) / "English.lng", dir / "English.lng");
    std::vector<int> masters;
    std::string ports = "[COM_PORT]\r\nPort=3\r\nBaudrate=19200\r\n[PORTS]\r\n";
    for (int n = 1; n <= 15; ++n) {
        std::string path = (dir / ("missing" + std::to_string(n))).string();
        if (n <= 10) {
            const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
                masters.push_back(master);
                path = ptsname(master);
            }
        }
        ports += "COM" + std::to_string(n) + "=" + path + "\r\n";
    }
    {
        std::FILE* f = std::fopen((dir / "CONFIG.INI").c_str(), "wb");
        if (f) {
            std::fputs(ports.c_str(), f);
            std::fclose(f);
        }
    }
    platform::SetProgramDirectory(dir.string());
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "bench_gui_probe";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    if (!TheTextMemory().Load("English.lng")) {
        state.SkipWithError("no language file");
        return;
    }

    Crowd crowd(kProcesses);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CDlgSelectInterface dialog(nullptr);
        dialog.show();
        QApplication::processEvents();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        dialog.hide();
    }
    state.counters["processes"] = CountProcesses();
    state.counters["bound_ms"] = 100;

    platform::SetProgramDirectory("");
    for (int master : masters)
        close(master);
    fs::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_InterfaceDialogStart)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
