#include "platform/SerialPorts.h"

#include <windows.h>

#include <algorithm>

#include "platform/Win32.h"

namespace platform {

std::string BuiltInDevicePathForPort(int nPort)
{
    if (nPort < 1 || nPort > 255)
        return std::string();
    return "\\\\.\\COM" + std::to_string(nPort);
}

std::vector<int> SystemPortNumbers(int nHighest)
{
    std::vector<int> numbers;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return numbers;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = sizeof name / sizeof name[0];
        wchar_t data[256] = {};
        DWORD dataBytes = sizeof data - sizeof data[0];
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const int n = PortNumberOfName(Utf8FromWide(data));
        if (n > 0 && n <= nHighest)
            numbers.push_back(n);
    }
    RegCloseKey(key);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

}  // namespace platform
