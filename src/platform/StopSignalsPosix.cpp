#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/AutoResetEvent.h"
#include "platform/StopState.h"

namespace platform {

namespace {

constexpr std::array<int, 3> kStopSignals{SIGINT, SIGTERM, SIGHUP};

// Everything the handler touches is a lock-free atomic or a descriptor.
std::atomic<int> g_nPipeWrite{-1};
std::atomic<int> g_nPipeRead{-1};
static_assert(std::atomic<int>::is_always_lock_free);

std::mutex g_installMutex;
bool g_bInstalled = false;
std::array<struct sigaction, kStopSignals.size()> g_previous{};

extern "C" void OnStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    stopstate::Note(signalNumber);
    const int fd = g_nPipeWrite.load();
    if (fd >= 0) {
        const char byte = static_cast<char>(signalNumber);
        // A full pipe already says what a further byte would.
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

void InstallStopSignals(std::initializer_list<AutoResetEvent*> events)
{
    std::lock_guard<std::mutex> lock(g_installMutex);
    for (AutoResetEvent* event : events)
        stopstate::AddEvent(event);
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
    const int writeFd = g_nPipeWrite.exchange(-1);
    const int readFd = g_nPipeRead.exchange(-1);
    if (writeFd >= 0)
        ::close(writeFd);
    if (readFd >= 0)
        ::close(readFd);
    stopstate::Clear();
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
