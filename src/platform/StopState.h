#pragma once

#include "platform/AutoResetEvent.h"

// What the stop-signal handlers of every system share: the first signal's
// number and the events it sets. Only lock-free atomics, so Note may run in
// a signal handler or on the console-control thread.
namespace platform::stopstate {

// Keeps the first signal number and sets every added event.
void Note(int signalNumber) noexcept;
// Adds an event to set (at most eight; one already there is not added again).
void AddEvent(AutoResetEvent* event);
// Forgets the events and the signal.
void Clear();

}  // namespace platform::stopstate
