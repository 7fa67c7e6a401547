#pragma once

#include <cstdint>
#include <string>

// One global parameter: its definition from GLOBAL.INI and its current value.
struct GlobalParamDef
{
    std::string pDescriptionD;  // German description (Description_d)
    std::string pCommand;       // request text: Command with "=" appended
    std::string pDescriptionE;  // English description (Description_e)
    int16_t nMinVal = 0;        // smallest value that may be sent
    int16_t nMaxVal = 0;        // largest value; equal to nMinVal: never sent
    int32_t nValue = -1;        // current value; -1 = the unit has none
    bool bPresent = false;      // the unit answered in the last full read
};
