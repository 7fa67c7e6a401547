#include "platform/StopSignals.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>

#include "platform/AutoResetEvent.h"

namespace platform {

namespace {

// The POSIX numbers, so that the exit statuses match Linux.
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr std::size_t kMaxEvents = 8;

std::atomic<int> g_nSignal{0};
std::array<std::atomic<AutoResetEvent*>, kMaxEvents> g_events{};
std::mutex g_installMutex;
bool g_bInstalled = false;

// Runs on a thread of its own that Windows starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    const bool bClosing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (!bClosing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    int none = 0;
    g_nSignal.compare_exchange_strong(none, bClosing ? kSigHup : kSigInt);
    for (auto& slot : g_events) {
        if (AutoResetEvent* event = slot.load())
            event->Set();
    }
    // Windows ends the process once this returns from a closing event: wait
    // here while the program closes its port and files and exits.
    if (bClosing)
        Sleep(10000);
    return TRUE;
}

void AddEvent(AutoResetEvent* event)
{
    if (event == nullptr)
        return;
    for (auto& slot : g_events) {
        if (slot.load() == event)
            return;
    }
    for (auto& slot : g_events) {
        AutoResetEvent* empty = nullptr;
        if (slot.compare_exchange_strong(empty, event))
            return;
    }
}

}  // namespace

void InstallStopSignals(std::initializer_list<AutoResetEvent*> events)
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    for (AutoResetEvent* event : events)
        AddEvent(event);
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
    for (auto& slot : g_events)
        slot.store(nullptr);
    g_nSignal.store(0);
}

int StopSignalNumber() { return g_nSignal.load(); }

int StopSignalExitStatus()
{
    const int signalNumber = g_nSignal.load();
    return signalNumber == 0 ? 0 : 128 + signalNumber;
}

int StopSignalFd() { return -1; }

void DrainStopSignalFd() {}

void IgnoreBrokenPipe(bool) {}

}  // namespace platform
