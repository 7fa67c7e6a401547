#pragma once

#include <ctime>

namespace platform {

// The local calendar time of seconds since 1970 and its offset from UTC in
// seconds (east positive), daylight saving included.
std::tm LocalTimeOf(std::time_t seconds, long& offsetSeconds);

// The UTC calendar time of seconds since 1970; all fields zero when the
// system cannot convert it.
std::tm UtcTimeOf(std::time_t seconds);
// Seconds since 1970 of a UTC calendar time (the inverse of UtcTimeOf; out
// of range fields are carried over as mktime does).
std::time_t SecondsOfUtc(std::tm utc);

}  // namespace platform
