#pragma once

#include <atomic>

namespace platform {

// A process-wide stop signal between the user-interface thread and one
// worker: Set() raises it, TryWait() tests it without waiting and lowers it
// when it was raised.
class AutoResetEvent
{
public:
    void Set() { m_bSignalled.store(true); }
    void Reset() { m_bSignalled.store(false); }
    bool TryWait() { return m_bSignalled.exchange(false); }

private:
    std::atomic<bool> m_bSignalled{false};
};

}  // namespace platform
