// See README: the one helper of platform/Posix.h that the change record
// uses, over the C runtime's descriptors.
#include <errno.h>
#include <io.h>

#include <algorithm>

#include "platform/Posix.h"

namespace platform {

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const int n = _write(fd, data.data(), static_cast<unsigned>(std::min<std::size_t>(data.size(), 1u << 30)));
        if (n < 0)
            return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace platform
