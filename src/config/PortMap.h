#pragma once

#include <string>

// Port numbers stand for device paths. Key COM<n> of section [PORTS] in
// CONFIG.INI names any path, for any number from 1; without it the system's
// own (platform::BuiltInDevicePathForPort: on Linux COM1..COM4 are
// /dev/ttyS0..3 and COM5..COM15 /dev/ttyUSB0..10, on Windows COMn up to
// 255). Empty for a number below 1, and for one beyond those not mapped.
std::string DevicePathForPort(int nPort);
