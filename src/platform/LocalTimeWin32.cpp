#include "platform/LocalTime.h"

namespace platform {

std::tm LocalTimeOf(std::time_t seconds, long& offsetSeconds)
{
    std::tm local{};
    localtime_s(&local, &seconds);
    // The local fields read as if they were UTC, less the instant itself.
    std::tm asUtc = local;
    offsetSeconds = static_cast<long>(_mkgmtime(&asUtc) - seconds);
    return local;
}

std::tm UtcTimeOf(std::time_t seconds)
{
    std::tm utc{};
    if (gmtime_s(&utc, &seconds) != 0)
        return std::tm{};
    return utc;
}

std::time_t SecondsOfUtc(std::tm utc) { return _mkgmtime(&utc); }

}  // namespace platform
