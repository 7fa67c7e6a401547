#include "platform/SerialPorts.h"

namespace platform {

std::string BuiltInDevicePathForPort(int nPort)
{
    if (nPort < 1 || nPort > 15)
        return std::string();
    // The built-in ports first, then USB adapters, which is how such
    // workstations are usually fitted.
    if (nPort <= 4)
        return "/dev/ttyS" + std::to_string(nPort - 1);
    return "/dev/ttyUSB" + std::to_string(nPort - 5);
}

std::vector<int> SystemPortNumbers(int nHighest)
{
    std::vector<int> numbers;
    for (int n = 1; n <= nHighest; ++n)
        numbers.push_back(n);
    return numbers;
}

}  // namespace platform
