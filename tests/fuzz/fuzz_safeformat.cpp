// The safe formatter over any pattern: bounded output, a pattern without a
// conversion comes back unchanged.
#include <climits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/SafeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the arguments, three bits each of two.
    static const platform::FormatArg pool[] = {0LL, -1LL, LLONG_MIN, LLONG_MAX, std::string(), std::string("TX-4"),
                                               std::string(300, 'w'), 4711LL};
    std::vector<platform::FormatArg> args;
    for (int i = 0; i < (data[0] >> 6); ++i)
        args.push_back(pool[(data[0] >> (3 * (i % 2))) & 7]);
    const std::string pattern(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string out = platform::SafeFormat(pattern, args);
    // A width or precision above 1000 is copied, so no conversion grows by more.
    FUZZ_CHECK(out.size() <= pattern.size() + args.size() * (1001 + 300 + 20));
    if (pattern.find('%') == std::string::npos)
        FUZZ_CHECK(out == pattern);
    return 0;
}
