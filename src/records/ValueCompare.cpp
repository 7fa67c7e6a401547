#include "records/ValueCompare.h"

#include <algorithm>
#include <memory>

#include "platform/Csv.h"
#include "recipe/Recipe.h"
#include "records/ChangeRecord.h"
#include "records/ValueNames.h"
#include "config/TextMemory.h"
#include "unit/Unit.h"

namespace records {

namespace {

std::string Shown(const std::vector<int32_t>& values, std::size_t i, bool bMinusOneIsNone)
{
    if (i >= values.size() || (bMinusOneIsNone && values[i] == -1))
        return "-";
    return std::to_string(values[i]);
}

const std::vector<int32_t>& ParamsOf(const UnitValues& values, std::size_t zone)
{
    static const std::vector<int32_t> kNone;
    return zone < values.zoneParams.size() ? values.zoneParams[zone] : kNone;
}

std::size_t ParamCount(const UnitValues& values)
{
    std::size_t count = 0;
    for (const std::vector<int32_t>& row : values.zoneParams)
        count = std::max(count, row.size());
    return count;
}

}  // namespace

std::vector<Difference> CompareValues(const UnitValues& left, const UnitValues& right)
{
    std::vector<Difference> differences;
    auto note = [&](const SendItem& item, const std::string& a, const std::string& b) {
        if (a != b)
            differences.push_back({WhereOf(item), a, b});
    };
    const std::size_t globals = std::max(left.globals.size(), right.globals.size());
    for (std::size_t i = 0; i < globals; ++i)
        note({SendItem::Kind::Global, static_cast<int16_t>(i + 1), 0, 0}, Shown(left.globals, i, true),
             Shown(right.globals, i, true));
    const std::size_t zones = std::max(left.setValues.size(), right.setValues.size());
    const std::size_t params = std::max(ParamCount(left), ParamCount(right));
    for (std::size_t z = 0; z < zones; ++z) {
        const auto zone = static_cast<int16_t>(z + 1);
        note({SendItem::Kind::SetValue, 0, zone, 0}, Shown(left.setValues, z, false), Shown(right.setValues, z, false));
        for (std::size_t p = 0; p < params; ++p)
            note({SendItem::Kind::ZoneParam, static_cast<int16_t>(p + 1), zone, 0}, Shown(ParamsOf(left, z), p, false),
                 Shown(ParamsOf(right, z), p, false));
    }
    return differences;
}

RecipeLoad LoadRecipeValues(const std::string& path, const CUnit& catalogue, RecipeValues& recipe,
                            std::string* problem)
{
    // A record of its own, offline, so that the file defines the whole unit
    // and the program's record is not disturbed.
    auto local = std::make_unique<CUnit>();
    std::vector<GlobalParamDef> params;
    for (int i = 1; i <= catalogue.GetGlobalParamCount(); ++i) {
        if (const GlobalParamDef* def = catalogue.GetGlobalParamDef(i))
            params.push_back(*def);
    }
    local->SetGlobalParams(std::move(params));
    local->SetOffline(true);
    if (ReadRecipe(*local, path, problem) != RecipeResult::Loaded)
        return RecipeLoad::NotARecipe;
    recipe.azNumber = local->QueryAZNumber();
    recipe.values = CaptureValues(*local);
    return RecipeLoad::Loaded;
}

std::string ValuesCsv(const UnitValues& values, const CUnit& catalogue)
{
    std::string text = platform::CsvLine({"what", "name", "value"});
    // Zone values are named in the active language, as the window names them.
    const ValueLabels labels = LabelsOf(TheTextMemory());
    for (std::size_t i = 0; i < values.globals.size(); ++i) {
        if (values.globals[i] == -1)
            continue;
        const SendItem item{SendItem::Kind::Global, static_cast<int16_t>(i + 1), 0, 0};
        std::string name;
        catalogue.GetParamDescription(item.index, name);
        text += platform::CsvLine({WhereOf(item), platform::SpreadsheetText(name), std::to_string(values.globals[i])});
    }
    for (std::size_t z = 0; z < values.setValues.size(); ++z) {
        const auto zone = static_cast<int16_t>(z + 1);
        const SendItem setValue{SendItem::Kind::SetValue, 0, zone, 0};
        text += platform::CsvLine({WhereOf(setValue), ValueName(setValue, labels), std::to_string(values.setValues[z])});
        const std::vector<int32_t>& row = ParamsOf(values, z);
        for (std::size_t p = 0; p < row.size(); ++p) {
            const SendItem param{SendItem::Kind::ZoneParam, static_cast<int16_t>(p + 1), zone, 0};
            text += platform::CsvLine({WhereOf(param), ValueName(param, labels), std::to_string(row[p])});
        }
    }
    return text;
}

}  // namespace records
