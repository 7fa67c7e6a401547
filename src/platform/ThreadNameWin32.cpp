#include "platform/ThreadName.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <mutex>

#include "platform/Win32.h"

namespace platform {

void NameCurrentThread(const std::string& name)
{
    // Named since Windows 10 only: looked up, so that older ones still start.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (set)
        set(GetCurrentThread(), WideFromUtf8(name.substr(0, 15)).c_str());
}

void UsePreciseSleeps()
{
    // Windows' timer resolution is the whole process's (15.6 ms by default),
    // so it is raised once and kept for the program's life.
    static std::once_flag once;
    std::call_once(once, [] { timeBeginPeriod(1); });
}

}  // namespace platform
