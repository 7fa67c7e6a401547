// Saving and opening the recipe of the largest unit the record holds: 128
// zones, 64 zone parameters, 63 global parameters, five-digit values.
// Target: at most 10 ms for each.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "config/TextMemory.h"
#include "platform/ProgramDir.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

namespace {

struct Scratch
{
    std::string dir;
    Scratch()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vorlent-bench-XXXXXX").string();
        dir = mkdtemp(tmpl.data()) ? tmpl : std::string(".");
        platform::SetProgramDirectory(dir);
        std::ofstream(dir + "/bench.lng", std::ios::binary)
            << "[GENERAL]\r\nLanguage=English\r\nFormatDate=%d.%m.%Y\r\nFormatTime=%H:%M:%S\r\n"
               "LastIndex=0\r\n[TEXT]\r\n000=Bench\r\n";
    }
    ~Scratch()
    {
        platform::SetProgramDirectory("");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

std::unique_ptr<CUnit> LargestUnit()
{
    auto unit = std::make_unique<CUnit>();
    std::vector<GlobalParamDef> params(kMaxGlobalParams);
    for (int i = 0; i < kMaxGlobalParams; ++i) {
        params[i].pDescriptionD = "Globaler Parameter Nummer " + std::to_string(i + 1);
        params[i].pDescriptionE = "Global parameter number " + std::to_string(i + 1);
        params[i].pCommand = "GP" + std::to_string(i + 1) + "=";
        params[i].nMaxVal = 30000;
    }
    unit->SetGlobalParams(params);
    for (int16_t i = 1; i <= kMaxGlobalParams; ++i)
        unit->WriteGlobalParam(i, 10000 + i);
    unit->SetAZNumber(12);
    unit->SetType("TX-128");
    unit->SetComment("The largest unit\nwith a two-line comment");
    unit->SetZoneCount(kMaxZones);
    unit->SetZoneParamCount(kMaxZoneParams);
    for (int16_t z = 1; z <= kMaxZones; ++z) {
        unit->SetActualValue(z, 20000 + z);
        unit->WriteSetValue(z, 30000 + z);
        for (int16_t p = 1; p <= kMaxZoneParams; ++p)
            unit->WriteZoneParam(z, p, 10000 + z * 64 + p);
    }
    return unit;
}

void BM_WriteRecipe(benchmark::State& state)
{
    Scratch scratch;
    CTextMemory texts;
    texts.Load("bench.lng");
    auto unit = LargestUnit();
    const std::string path = scratch.dir + "/largest.12";
    for (auto _ : state) {
        if (!WriteRecipe(*unit, texts, path))
            state.SkipWithError("WriteRecipe failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}
BENCHMARK(BM_WriteRecipe)->Unit(benchmark::kMillisecond);

void BM_ReadRecipe(benchmark::State& state)
{
    Scratch scratch;
    CTextMemory texts;
    texts.Load("bench.lng");
    const std::string path = scratch.dir + "/largest.12";
    {
        auto unit = LargestUnit();
        if (!WriteRecipe(*unit, texts, path))
            state.SkipWithError("WriteRecipe failed");
    }
    auto unit = std::make_unique<CUnit>();
    auto catalogue = LargestUnit();
    std::vector<GlobalParamDef> params;
    for (int i = 1; i <= kMaxGlobalParams; ++i)
        params.push_back(*catalogue->GetGlobalParamDef(i));
    unit->SetGlobalParams(params);
    for (auto _ : state) {
        if (ReadRecipe(*unit, path) != RecipeResult::Loaded)
            state.SkipWithError("ReadRecipe failed");
    }
    if (unit->QueryZoneCount() != kMaxZones || unit->ReadZoneParam(kMaxZones, kMaxZoneParams) != 10000 + 128 * 64 + 64)
        state.SkipWithError("the recipe did not read back");
}
BENCHMARK(BM_ReadRecipe)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
