#pragma once
// What the line benchmarks share: the simulated units they receive from, and
// a job progress that reports nowhere.

#include <string>
#include <vector>

#include "SimFixture.h"
#include "unit/GlobalParamDef.h"
#include "unitsim/SimBus.h"
#include "workflows/Jobs.h"

namespace bench {

// A unit at address 1 (AZ number 7) with these counts and no globals.
inline unitsim::SimUnitConfig Unit(int zones, int params, int width)
{
    return MakeSimUnit(1, 7, zones, params, width);
}

// The 120-zone demo unit with its 14 global parameters, and the catalogue
// the tool needs to receive them.
inline unitsim::SimUnitConfig DemoUnit120(std::vector<GlobalParamDef>& catalogue)
{
    unitsim::SimUnitConfig config = Unit(120, 10, 5);
    const char* commands[] = {"TSOLL", "TMAX", "ALARM", "HYST", "RAMP", "TIME", "UNIT",
                              "MODE", "ADDR", "BAUD", "KP", "TN", "TV", "OUTMAX"};
    catalogue.clear();
    for (const char* c : commands) {
        config.globals.push_back({c, 10, 0, 9999});
        GlobalParamDef def;
        def.pCommand = std::string(c) + "=";
        catalogue.push_back(def);
    }
    return config;
}

class Quiet : public IJobProgress
{
public:
    void SetRange(int) override {}
    void SetPosition(int) override {}
    bool StopRequested() override { return false; }
};

}  // namespace bench
