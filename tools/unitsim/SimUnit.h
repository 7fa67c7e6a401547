#pragma once

// What one simulated unit says to one request: the answering logic without
// the frame, faults or timing, which the bus adds. Internal to the simulator.

#include <cstdint>
#include <string>

#include "unitsim/SimBus.h"

namespace unitsim::detail {

enum class AnswerKind
{
    Value,    // a value text to be framed with a checksum
    Ack,      // a write taken, or "XSTD="
    Nak,      // refused: unknown, out of range, wrong numbering mode
    Silence,  // a count request this unit does not know
};

struct UnitAnswer
{
    AnswerKind kind = AnswerKind::Silence;
    std::string value;      // for Value
    bool bRestart = false;  // "XSTD=" was taken: the bus restarts the unit
};

// Answers text (the request without its frame) in the numbering mode of the
// frame; an accepted write changes unit.
UnitAnswer Answer(SimUnitConfig& unit, bool bHex, const std::string& text);

// A number in the unit's width: decimal "%0*d" (a minus sign inside the
// width), hexadecimal "%0*X" (a negative value as the low digits of its two's
// complement).
std::string FormatNumber(int32_t value, int width, bool bHex);

// Clamps the counts and fills or trims every value row to the zone count.
void Normalize(SimUnitConfig& unit);

}  // namespace unitsim::detail
