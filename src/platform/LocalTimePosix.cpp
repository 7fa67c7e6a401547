#include "platform/LocalTime.h"

namespace platform {

std::tm LocalTimeOf(std::time_t seconds, long& offsetSeconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    offsetSeconds = local.tm_gmtoff;
    return local;
}

}  // namespace platform
