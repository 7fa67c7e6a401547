#include "platform/FileReplace.h"

#include <windows.h>

#include <algorithm>
#include <random>

#include "platform/Win32.h"

namespace platform {
namespace {

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool WriteAllTo(HANDLE file, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A sibling no other program uses: a name of our own, created exclusively.
UniqueHandle CreateSibling(const std::string& path, std::string& name)
{
    static std::mt19937 random(std::random_device{}());
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + ".";
        for (int i = 0; i < 6; ++i)
            name += letters[random() % (sizeof letters - 1)];
        name += "~";
        UniqueHandle file(CreateFileW(WideFromUtf8(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return UniqueHandle();
}

// For a directory that refuses new files: not atomic, so used only where the
// atomic way is refused.
bool RewriteInPlace(const FileToReplace& f, const std::string& text)
{
    UniqueHandle file(CreateFileW(WideFromUtf8(f.path).c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    const bool bOk = WriteAllTo(file.Get(), text) && FlushFileBuffers(file.Get());
    return file.Close() && bOk;
}

}  // namespace

std::optional<std::string> LoadWholeFile(const std::string& path)
{
    // Shared for everything: an editor holding the file open must not make
    // it unreadable to us.
    UniqueHandle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return IsMissing(GetLastError()) ? std::optional<std::string>("") : std::nullopt;
    std::string text;
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr))
            return std::nullopt;
        if (n == 0)
            return text;
        text.append(buffer, n);
    }
}

bool InspectFileToReplace(const std::string& path, FileToReplace& f)
{
    f.path = path;
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!IsMissing(GetLastError()))
            return false;
        const DWORD dir = GetFileAttributesW(WideFromUtf8(DirectoryOf(path)).c_str());
        return dir != INVALID_FILE_ATTRIBUTES && (dir & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    f.bExists = true;
    // A read-only file is meant to stay as it is.
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool ReplaceFileContents(const FileToReplace& f, const std::string& text, bool bInPlace, bool bFailBeforeMove)
{
    std::string sibling;
    UniqueHandle file = CreateSibling(f.path, sibling);
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_ACCESS_DENIED && bInPlace && f.bExists && RewriteInPlace(f, text);
    }
    bool bOk = WriteAllTo(file.Get(), text) && FlushFileBuffers(file.Get());
    bOk = file.Close() && bOk;
    // Write-through: the move is on the disk when MoveFileExW returns.
    if (bOk && !bFailBeforeMove &&
        MoveFileExW(WideFromUtf8(sibling).c_str(), WideFromUtf8(f.path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(WideFromUtf8(sibling).c_str());
    return false;
}

}  // namespace platform
