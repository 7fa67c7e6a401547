#include "platform/AppendFile.h"

namespace platform {

bool FindLastLineEnd(long long size, const std::function<long long(long long, char*, std::size_t)>& readAt,
                     long long& keep, std::string& tail)
{
    keep = 0;
    tail.clear();
    char buffer[4096];
    for (long long end = size; end > 0;) {
        const long long start = end > static_cast<long long>(sizeof buffer) ? end - static_cast<long long>(sizeof buffer) : 0;
        const long long n = readAt(start, buffer, static_cast<std::size_t>(end - start));
        if (n <= 0)
            return false;
        const std::string chunk(buffer, static_cast<std::size_t>(n));
        const std::size_t newline = chunk.rfind('\n');
        if (newline != std::string::npos) {
            keep = start + static_cast<long long>(newline) + 1;
            tail = chunk.substr(newline + 1) + tail;
            return true;
        }
        tail = chunk + tail;
        end = start;
    }
    return true;
}

}  // namespace platform
