#include "FuzzSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ProgramDir.h"
#include "unit/Unit.h"

namespace fuzz {

namespace {

// Made before main, so it outlives the handler that removes the directory.
std::string g_strDir;

}  // namespace

const std::string& Dir()
{
    if (g_strDir.empty()) {
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/vorlent-fuzz-XXXXXX" : "/tmp/vorlent-fuzz-XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        g_strDir = tmpl;
        platform::SetProgramDirectory(g_strDir);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(g_strDir, ec);
        });
    }
    return g_strDir;
}

std::string File(const std::string& name) { return Dir() + "/" + name; }

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Snapshot Take(CUnit& unit)
{
    Snapshot s{unit.QueryAZNumber(), unit.QueryType(), unit.QueryRevDate(), unit.GetComment(),
               unit.QueryEpromNumber(), unit.QueryVersion(), unit.QueryZoneCount(), unit.QueryZoneParamCount(),
               unit.GetValueWidth(), {}};
    for (int16_t i = 1; i <= unit.GetGlobalParamCount(); ++i)
        s.values.push_back(unit.ReadGlobalParam(i));
    for (int16_t z = 1; z <= kMaxZones; ++z) {
        s.values.push_back(unit.ReadActualValue(z));
        s.values.push_back(unit.ReadSetValue(z));
        for (int16_t p = 1; p <= kMaxZoneParams; ++p)
            s.values.push_back(unit.ReadZoneParam(z, p));
    }
    return s;
}

void SetUpUnit(CUnit& unit)
{
    std::vector<GlobalParamDef> params(3);
    const char* descriptions[] = {"Sollwert", "Rampe \u00B0C", "Alarm"};
    for (std::size_t i = 0; i < params.size(); ++i) {
        params[i].pDescriptionD = params[i].pDescriptionE = descriptions[i];
        params[i].pCommand = "G" + std::to_string(i + 1) + "=";
        params[i].nMinVal = INT16_MIN;
        params[i].nMaxVal = INT16_MAX;
    }
    unit.SetGlobalParams(params);
}

}  // namespace fuzz
