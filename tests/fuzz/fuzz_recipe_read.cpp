// ReadRecipe offline and with a unit selected: a result other than 0
// changes nothing, and what is loaded stays within the record's tables.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "platform/ProfileFile.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::File("r.rcp");
    fuzz::Write(path, std::string(reinterpret_cast<const char*>(data), size));

    auto offline = std::make_unique<CUnit>();
    fuzz::SetUpUnit(*offline);
    const fuzz::Snapshot fresh = fuzz::Take(*offline);
    const auto result = static_cast<int16_t>(ReadRecipe(*offline, path));
    FUZZ_CHECK(result == 0 || result == 1);
    if (result != 0) {
        FUZZ_CHECK(fuzz::Take(*offline) == fresh);
    } else {
        FUZZ_CHECK(offline->QueryZoneCount() >= 0 && offline->QueryZoneCount() <= kMaxZones);
        FUZZ_CHECK(offline->QueryZoneParamCount() >= 0 && offline->QueryZoneParamCount() <= kMaxZoneParams);
        FUZZ_CHECK(offline->GetValueWidth() == 4 || offline->GetValueWidth() == 5);
        FUZZ_CHECK(platform::IsValidUtf8(offline->GetComment()));
        FUZZ_CHECK(platform::IsValidUtf8(offline->QueryType()));
    }

    auto selected = std::make_unique<CUnit>();
    fuzz::SetUpUnit(*selected);
    selected->SetAZNumber(12);
    selected->SetZoneCount(3);
    selected->SetZoneParamCount(2);
    selected->SetType("TX-4");
    selected->SetOffline(false);
    const fuzz::Snapshot before = fuzz::Take(*selected);
    const auto selectedResult = static_cast<int16_t>(ReadRecipe(*selected, path));
    FUZZ_CHECK(selectedResult >= 0 && selectedResult <= 2);
    if (selectedResult != 0) {
        FUZZ_CHECK(fuzz::Take(*selected) == before);
    } else {
        const fuzz::Snapshot after = fuzz::Take(*selected);
        FUZZ_CHECK(after.az == 12 && after.type == "TX-4" && after.zones == 3 && after.params == 2);
    }
    return 0;
}
