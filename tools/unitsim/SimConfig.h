#pragma once

#include <string>

#include "unitsim/SimBus.h"

namespace unitsim {

// Reads a bus description file of the simulator's own format into bus.
// False with a message naming the line when the file cannot be read.
bool LoadBusFile(const std::string& path, SimBus& bus, std::string& error);

}  // namespace unitsim
