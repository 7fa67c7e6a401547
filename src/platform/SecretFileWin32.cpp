#include "platform/SecretFile.h"

#include <windows.h>

#include "platform/Win32.h"

namespace platform {

bool ReadSecretFile(const std::string& path, std::string& text, unsigned& mode, std::string& error)
{
    UniqueHandle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.Get(), &info)) {
        error = Win32ErrorText(GetLastError());
        return false;
    }
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "not a regular file";
        return false;
    }
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow > 65536) {
        error = "larger than 64 KiB";
        return false;
    }
    // No permission bits here: who may read is the file's access list, which
    // the user's own folders keep to the user.
    mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0400 : 0600;
    text.clear();
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            error = Win32ErrorText(GetLastError());
            return false;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    return true;
}

}  // namespace platform
