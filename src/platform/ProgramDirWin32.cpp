#include "platform/ProgramDir.h"

#include <windows.h>

#include <filesystem>

#include "platform/Win32.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

std::string SystemError(const std::string& what, DWORD error) { return what + ": " + Win32ErrorText(error); }

std::string Environment(const wchar_t* name)
{
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, sizeof buffer / sizeof buffer[0]);
    return n > 0 && n < sizeof buffer / sizeof buffer[0] ? Utf8FromWide(std::wstring(buffer, n)) : std::string();
}

std::string UnderBase(const wchar_t* variable)
{
    const std::string base = Environment(variable);
    return base.empty() ? base : base + "\\Vorlent";
}

fs::path PathOf(const std::string& utf8) { return fs::path(WideFromUtf8(utf8)); }

}  // namespace

// Copied to a hidden sibling first and moved into place without replacing,
// so that a half-written copy never carries the target's name and a file the
// user has meanwhile stays.
bool CopyFileIfMissing(const std::string& source, const std::string& target, std::string& error)
{
    const fs::path targetPath = PathOf(target);
    const std::wstring temp =
        (targetPath.parent_path() / (L"." + targetPath.filename().wstring() + L".vorlent-copy")).wstring();
    if (!CopyFileW(WideFromUtf8(source).c_str(), temp.c_str(), FALSE)) {
        error = SystemError("cannot copy " + source, GetLastError());
        return false;
    }
    bool bOk = true;
    if (!MoveFileExW(temp.c_str(), targetPath.wstring().c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD why = GetLastError();
        if (why != ERROR_ALREADY_EXISTS && why != ERROR_FILE_EXISTS) {
            error = SystemError("cannot create " + target, why);
            bOk = false;
        }
        DeleteFileW(temp.c_str());
    }
    return bOk;
}

std::string DefaultUserProgramDirectory() { return UnderBase(L"APPDATA"); }

std::string DefaultUserDataDirectory() { return UnderBase(L"LOCALAPPDATA"); }

std::string ExecutableDirectory()
{
    std::wstring name(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0 || n >= name.size())
        return ".";
    name.resize(n);
    return Utf8FromWide(fs::path(name).parent_path().wstring());
}

std::string ShippedDataDirectory()
{
    std::error_code ec;
    const fs::path beside = PathOf(ExecutableDirectory()) / L"share" / L"vorlent";
    return fs::is_directory(beside, ec) ? Utf8FromWide(beside.wstring()) : std::string();
}

// Under the user's profile the folders inherit its access rules, which
// already keep other users out.
bool MakeDirectories(const std::string& dir, std::string& error)
{
    std::error_code ec;
    fs::create_directories(PathOf(dir), ec);
    if (!fs::is_directory(PathOf(dir), ec)) {
        error = dir + " is not a directory";
        return false;
    }
    return true;
}

}  // namespace platform
