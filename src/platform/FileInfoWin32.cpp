#include "platform/FileInfo.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/Win32.h"

namespace platform {

namespace fs = std::filesystem;

FileInfo InfoOf(const std::string& path)
{
    FileInfo info;
    const fs::path name(WideFromUtf8(path));
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (ec || status.type() == fs::file_type::not_found) {
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            info.error = Win32ErrorText(static_cast<unsigned long>(ec.value()));
        return info;
    }
    info.bExists = true;
    info.bDirectory = status.type() == fs::file_type::directory;
    info.bRegular = status.type() == fs::file_type::regular;
    // The read-only attribute is what Windows has of "no write permission".
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    info.bReadOnly = (status.permissions() & writable) == fs::perms::none;
    if (info.bRegular) {
        const auto size = fs::file_size(name, ec);
        info.nSize = ec ? 0 : static_cast<long long>(size);
    }
    return info;
}

std::string SystemErrorText(int error) { return std::strerror(error); }

std::string LoginName()
{
    wchar_t name[257];
    DWORD n = sizeof name / sizeof name[0];
    if (GetUserNameW(name, &n) && n > 1)
        return Utf8FromWide(std::wstring(name, n - 1));
    const wchar_t* user = _wgetenv(L"USERNAME");
    return user && *user ? Utf8FromWide(user) : "?";
}

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = sizeof name / sizeof name[0];
    if (!GetComputerNameW(name, &n) || n == 0)
        return "?";
    return Utf8FromWide(std::wstring(name, n));
}

}  // namespace platform
