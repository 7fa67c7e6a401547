#include "platform/StopSignals.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>

#include "platform/AutoResetEvent.h"
#include "platform/StopState.h"

namespace platform {

namespace {

// The POSIX numbers, so that the exit statuses match Linux.
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
std::mutex g_installMutex;
bool g_bInstalled = false;

// Runs on a thread of its own that Windows starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    const bool bClosing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (!bClosing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    stopstate::Note(bClosing ? kSigHup : kSigInt);
    // Windows ends the process once this returns from a closing event: wait
    // here while the program closes its port and files and exits.
    if (bClosing)
        Sleep(10000);
    return TRUE;
}

}  // namespace

void InstallStopSignals(std::initializer_list<AutoResetEvent*> events)
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    for (AutoResetEvent* event : events)
        stopstate::AddEvent(event);
    if (g_bInstalled)
        return;
    g_bInstalled = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

void ResetStopSignals()
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (g_bInstalled) {
        SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        g_bInstalled = false;
    }
    stopstate::Clear();
}

int StopSignalFd() { return -1; }

void DrainStopSignalFd() {}

void IgnoreBrokenPipe(bool) {}

}  // namespace platform
