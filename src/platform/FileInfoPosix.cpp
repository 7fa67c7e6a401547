#include "platform/FileInfo.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

FileInfo InfoOf(const std::string& path)
{
    FileInfo info;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            info.error = SystemErrorText(errno);
        return info;
    }
    info.bExists = true;
    info.bDirectory = S_ISDIR(st.st_mode);
    info.bRegular = S_ISREG(st.st_mode);
    info.bReadOnly = (st.st_mode & 0222) == 0;
    info.nSize = static_cast<long long>(st.st_size);
    return info;
}

std::string SystemErrorText(int error) { return std::strerror(error); }

std::string LoginName()
{
    char name[256];
    if (::getlogin_r(name, sizeof name) == 0 && name[0])
        return name;
    if (const passwd* account = ::getpwuid(::getuid()))
        return account->pw_name;
    const char* user = std::getenv("USER");
    return user && *user ? user : "?";
}

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "?";
    return name;
}

}  // namespace platform
