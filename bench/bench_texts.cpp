// Loading a language file happens at start-up and at every change of
// language, on the user-interface thread; it should stay well below 2 ms.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "config/TextMemory.h"
#include "platform/ProgramDir.h"
#include "platform/SafeFormat.h"

namespace {

// The build copies the resource files beside the programs; when they are
// not there, take them from the source tree.
void UseResourceDirectory()
{
    if (std::filesystem::exists(platform::ProgramFile("English.lng")))
        return;
    const auto resources = std::filesystem::path(__FILE__).parent_path().parent_path() / "src" / "resources";
    platform::SetProgramDirectory(resources.string());
}

void BM_LoadEnglish(benchmark::State& state)
{
    UseResourceDirectory();
    CTextMemory store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.Load("English.lng"));
    if (store.GetTextCount() != 77)
        state.SkipWithError("English.lng was not found or is incomplete");
}
BENCHMARK(BM_LoadEnglish)->Unit(benchmark::kMicrosecond);

void BM_FormatUnitItem(benchmark::State& state)
{
    const std::vector<platform::FormatArg> args = {std::string("Unit"), 5LL, std::string("TORVA08")};
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::SafeFormat("%s %02d\t%s", args));
}
BENCHMARK(BM_FormatUnitItem);

}  // namespace

BENCHMARK_MAIN();
