#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "workflows/Jobs.h"

class CUnit;

// Two parameter sets side by side: the CLI's diff and the window's comparison
// with a recipe. Only what a send could change is compared (global
// parameters, set values, zone parameters); actual values are measurements.
namespace records {

struct Difference
{
    std::string where;  // "Global 07", "Zone05 P03", "Zone05 P00"
    std::string left;   // the value, or "-" when that side has none
    std::string right;
};

// Every place where the two sets differ: globals 1..N, then zone by zone its
// set value (P00) and its parameters. A global of -1 is one the set does not
// have; a zone or parameter beyond a set's counts is one it does not have.
std::vector<Difference> CompareValues(const UnitValues& left, const UnitValues& right);

// A recipe file read on its own, offline, without touching any other record.
struct RecipeValues
{
    int16_t azNumber = 0;
    UnitValues values;
};

enum class RecipeLoad { Loaded, NotARecipe };

// Reads path with the global parameter catalogue of catalogue (which stays as
// it is). problem, when given, receives why a file is not a recipe
// (ReadRecipe).
RecipeLoad LoadRecipeValues(const std::string& path, const CUnit& catalogue, RecipeValues& recipe,
                            std::string* problem = nullptr);

// The values of a set as recipe order lists them, each with its place and
// the global parameter's description in the active language: the CSV export
// "what,name,value" (with its header line), the names guarded for
// spreadsheets (platform::SpreadsheetText).
std::string ValuesCsv(const UnitValues& values, const CUnit& catalogue);

}  // namespace records
