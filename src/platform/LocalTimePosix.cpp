#include "platform/LocalTime.h"

namespace platform {

std::tm LocalTimeOf(std::time_t seconds, long& offsetSeconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    offsetSeconds = local.tm_gmtoff;
    return local;
}

std::tm UtcTimeOf(std::time_t seconds)
{
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc))
        return std::tm{};
    return utc;
}

std::time_t SecondsOfUtc(std::tm utc) { return timegm(&utc); }

}  // namespace platform
