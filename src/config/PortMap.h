#pragma once

#include <string>

// Port numbers stand for device paths. Key COM<n> of section [PORTS] in
// CONFIG.INI names any path, for any number from 1; without it COM1..COM4
// are /dev/ttyS0..3 and COM5..COM15 are /dev/ttyUSB0..10. Empty for a
// number below 1, and for one above 15 that is not mapped.
std::string DevicePathForPort(int nPort);
