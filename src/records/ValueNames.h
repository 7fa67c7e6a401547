#pragma once

#include <string>

#include "workflows/Jobs.h"

class CTextMemory;
class CUnit;

// How a value is named for a person, the same in the grids, the change
// history, the comparison, the export and the tooltips:
//   "Zone 05 · Set value", "Zone 05 · Par. 03", "Global 07 · Alarm limit".
// The change record's `what` column keeps its own stable keys for programs
// ("Zone05 P03"); these names are only ever shown.
namespace records {

// The words of a name in one language.
struct ValueLabels
{
    std::string zone = "Zone";
    std::string setValue = "Set value";
    std::string param = "Par.";
    std::string global = "Global";
};

// The labels of the active language, each with its English fallback when
// the file lacks it.
ValueLabels LabelsOf(const CTextMemory& texts);

// The name of item. A global's description follows the dot when there is
// one; without it the name is only "Global 07". Numbers below 10 take two
// digits; zone 100 is "Zone 100".
std::string ValueName(const SendItem& item, const ValueLabels& labels, const std::string& globalDescription = {});

// The same with the global's description from catalogue.
std::string ValueName(const SendItem& item, const ValueLabels& labels, const CUnit& catalogue);

// Reads a stable key of the change record or the comparison back ("Global 07",
// "Zone05 P03", "Zone05 P00" the set value); false for any other text.
bool ParseWhere(const std::string& where, SendItem& item);

}  // namespace records
