#include "config/PortMap.h"

#include "config/IniFile.h"
#include "platform/SerialPorts.h"

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
    return platform::BuiltInDevicePathForPort(nPort);
}
