#include "config/PortMap.h"

#include "config/IniFile.h"

std::string DevicePathForPort(int nPort)
{
    if (nPort < 1)
        return std::string();

    // Any number may be mapped: a port typed by hand need not be one the
    // interface dialog lists.
    const std::string key = "COM" + std::to_string(nPort);
    CIniFile ini("CONFIG.INI", false);
    ini.ReadString("PORTS", key);
    if (!ini.GetValue().empty())
        return ini.GetValue();
    if (nPort > 15)
        return std::string();

    // The built-in ports first, then USB adapters, which is how such
    // workstations are usually fitted.
    if (nPort <= 4)
        return "/dev/ttyS" + std::to_string(nPort - 1);
    return "/dev/ttyUSB" + std::to_string(nPort - 5);
}
