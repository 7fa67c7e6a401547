#pragma once

#include <string>

// Port numbers COM1..COM15 stand for device paths. Key COM<n> of section
// [PORTS] in CONFIG.INI names any path; without it COM1..COM4 are
// /dev/ttyS0..3 and COM5..COM15 are /dev/ttyUSB0..10. Empty for a number
// outside 1..15.
std::string DevicePathForPort(int nPort);
