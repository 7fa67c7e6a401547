#include "platform/ThreadName.h"

#include <sys/prctl.h>

namespace platform {

void NameCurrentThread(const std::string& name)
{
    prctl(PR_SET_NAME, name.substr(0, 15).c_str(), 0, 0, 0);
}

void UsePreciseSleeps()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

}  // namespace platform
