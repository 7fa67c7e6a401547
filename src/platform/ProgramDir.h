#pragma once

#include <string>

namespace platform {

// The directory that holds GLOBAL.INI, CONFIG.INI and the language files:
// the one named by VORLENT_HOME when it is set and not empty, otherwise the
// directory of the running executable. No trailing slash.
std::string ProgramDirectory();

// Overrides both for the rest of the process (the CLI's --home). Empty
// restores the default rule.
void SetProgramDirectory(const std::string& dir);

// dir + "/" + name.
std::string ProgramFile(const std::string& name);

}  // namespace platform
