#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/AutoResetEvent.h"

namespace platform {

namespace {

constexpr std::array<int, 3> kStopSignals{SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kMaxEvents = 8;

// Everything the handler touches is a lock-free atomic or a descriptor.
std::atomic<int> g_nSignal{0};
std::atomic<int> g_nPipeWrite{-1};
std::atomic<int> g_nPipeRead{-1};
std::array<std::atomic<AutoResetEvent*>, kMaxEvents> g_events{};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<AutoResetEvent*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

std::mutex g_installMutex;
bool g_bInstalled = false;
std::array<struct sigaction, kStopSignals.size()> g_previous{};

extern "C" void OnStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    int none = 0;
    g_nSignal.compare_exchange_strong(none, signalNumber);
    for (auto& slot : g_events) {
        if (AutoResetEvent* event = slot.load())
            event->Set();
    }
    const int fd = g_nPipeWrite.load();
    if (fd >= 0) {
        const char byte = static_cast<char>(signalNumber);
        // A full pipe already says what a further byte would.
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
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
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_nPipeRead.store(fds[0]);
        g_nPipeWrite.store(fds[1]);
    }
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kStopSignals)
        sigaddset(&action.sa_mask, signalNumber);
    action.sa_flags = 0;  // no SA_RESTART: a blocking wait learns of the signal
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        ::sigaction(kStopSignals[i], &action, &g_previous[i]);
    g_bInstalled = true;
}

void ResetStopSignals()
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (g_bInstalled) {
        for (std::size_t i = 0; i < kStopSignals.size(); ++i)
            ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
        g_bInstalled = false;
    }
    for (auto& slot : g_events)
        slot.store(nullptr);
    const int writeFd = g_nPipeWrite.exchange(-1);
    const int readFd = g_nPipeRead.exchange(-1);
    if (writeFd >= 0)
        ::close(writeFd);
    if (readFd >= 0)
        ::close(readFd);
    g_nSignal.store(0);
}

int StopSignalNumber()
{
    return g_nSignal.load();
}

int StopSignalExitStatus()
{
    const int signalNumber = g_nSignal.load();
    return signalNumber == 0 ? 0 : 128 + signalNumber;
}

int StopSignalFd()
{
    return g_nPipeRead.load();
}

void DrainStopSignalFd()
{
    const int fd = g_nPipeRead.load();
    char bytes[16];
    while (fd >= 0 && ::read(fd, bytes, sizeof bytes) > 0) {
    }
}

void IgnoreBrokenPipe(bool on)
{
    static std::mutex mutex;
    static struct sigaction previous{};
    static bool bIgnoring = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (on && !bIgnoring) {
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        bIgnoring = ::sigaction(SIGPIPE, &ignore, &previous) == 0;
    } else if (!on && bIgnoring) {
        ::sigaction(SIGPIPE, &previous, nullptr);
        bIgnoring = false;
    }
}

}  // namespace platform
