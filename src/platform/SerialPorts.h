#pragma once

#include <string>
#include <vector>

// Which device a port number stands for when CONFIG.INI maps none, and which
// port numbers the system knows, per operating system.
namespace platform {

// Linux: COM1..COM4 are /dev/ttyS0..3 and COM5..COM15 /dev/ttyUSB0..10.
// Windows: COMn is \\.\COMn, for n up to 255. Empty for any other number.
std::string BuiltInDevicePathForPort(int nPort);

// The port numbers worth offering, ascending, none above nHighest. Linux:
// all of 1..nHighest (each is then probed). Windows: those of the ports
// under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, the names Device Manager shows.
std::vector<int> SystemPortNumbers(int nHighest);

// The port number of a Windows port name, COM7 or \\.\COM7 (any case);
// 0 for anything else.
int PortNumberOfName(const std::string& name);

}  // namespace platform
