#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

class CUnit;
class CTextMemory;

// The marker that opens every recipe file.
constexpr const char* kRecipeId = "VORLENT_RECIPE";

// Writes the unit record (its stored values, the link closed) as a recipe to
// path, as UTF-8 without a byte-order mark, replacing the file atomically: the old file stays whole when the
// write fails. Descriptions and time stamp patterns come from texts. now is
// the system time to stamp (plus two hours, as universal time). Refuses, with
// the old file kept, a record holding a zone value outside -99999..999999.
// Returns whether the whole file was written.
bool WriteRecipe(CUnit& unit, const CTextMemory& texts, const std::string& path, std::time_t now);
bool WriteRecipe(CUnit& unit, const CTextMemory& texts, const std::string& path);
// The text WriteRecipe writes, for a recipe that records fileName as its
// name; nullopt when WriteRecipe would refuse the record.
std::optional<std::string> RecipeText(CUnit& unit, const CTextMemory& texts, const std::string& fileName,
                                      std::time_t now);

// How a recipe read ended; the numbers are the reader's 16-bit codes.
enum class RecipeResult : int16_t
{
    Loaded = 0,
    // Not a recipe file, or offline a file whose AZ number does not fit 16 bits.
    NotARecipe = 1,
    // A unit is selected and the file belongs to another AZ number (one
    // beyond 16 bits included).
    OtherUnit = 2,
};

// The largest recipe file read: a maximal unit's recipe is a few hundred
// kilobytes. A larger file, or one that is not a regular file (a device such
// as /dev/zero, a pipe, a directory), is not a recipe and is refused before
// it is read whole.
constexpr long long kMaxRecipeBytes = 16LL * 1024 * 1024;

// Reads a recipe into the unit record. The file may be UTF-8 or
// Windows-1252; the record receives UTF-8. Only Loaded changes the record. Offline the file defines the unit (identification,
// counts, width, actual values); with a unit selected only the comment, the
// global values, set values and zone parameters the file holds are taken.
//
// A file with a repeated key, a number field that is not a whole number
// (the global lines' "250 - description" counts as 250) or a zone line
// shorter than the recipe's others is not a recipe: taken as it stands it
// would put a value in the record that the file does not clearly hold.
// problem, when given, receives why a file is not a recipe, with the line
// where that is known ("line 14: ..."), or that there is no such file.
RecipeResult ReadRecipe(CUnit& unit, const std::string& path, std::string* problem = nullptr);

// The part of a path after its last '/' or '\' (the whole path without one).
std::string RecipeFileName(const std::string& path);

// The time stamp texts of a recipe written at now.
std::string RecipeStamp(std::time_t now, const std::string& pattern);
