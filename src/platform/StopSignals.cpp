#include "platform/StopSignals.h"

#include <array>
#include <atomic>

#include "platform/StopState.h"

namespace platform {

namespace {

constexpr std::size_t kMaxEvents = 8;

std::atomic<int> g_nSignal{0};
std::array<std::atomic<AutoResetEvent*>, kMaxEvents> g_events{};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<AutoResetEvent*>::is_always_lock_free);

}  // namespace

namespace stopstate {

void Note(int signalNumber) noexcept
{
    int none = 0;
    g_nSignal.compare_exchange_strong(none, signalNumber);
    for (auto& slot : g_events) {
        if (AutoResetEvent* event = slot.load())
            event->Set();
    }
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

void Clear()
{
    for (auto& slot : g_events)
        slot.store(nullptr);
    g_nSignal.store(0);
}

}  // namespace stopstate

int StopSignalNumber()
{
    return g_nSignal.load();
}

int StopSignalExitStatus()
{
    const int signalNumber = g_nSignal.load();
    return signalNumber == 0 ? 0 : 128 + signalNumber;
}

}  // namespace platform
