#pragma once

#include <ctime>

namespace platform {

// The local calendar time of seconds since 1970 and its offset from UTC in
// seconds (east positive), daylight saving included.
std::tm LocalTimeOf(std::time_t seconds, long& offsetSeconds);

}  // namespace platform
