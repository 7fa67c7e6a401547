#pragma once

#include <string>

namespace platform {

// Names the calling thread for debuggers and process lists (at most 15
// characters are kept). Nothing happens where the system cannot.
void NameCurrentThread(const std::string& name);

// Lets the calling thread's short sleeps end on time: a worker whose every
// telegram waits out a 1 ms turnaround would otherwise add the system's
// default timer slack (50 us) to each.
void UsePreciseSleeps();

}  // namespace platform
