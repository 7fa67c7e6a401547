#include "platform/SecretFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/Posix.h"

namespace platform {

bool ReadSecretFile(const std::string& path, std::string& text, unsigned& mode, std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if (info.st_size > 65536) {
        error = "larger than 64 KiB";
        return false;
    }
    mode = static_cast<unsigned>(info.st_mode & 07777);
    text.clear();
    if (!ReadToEnd(fd.Get(), text)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace platform
