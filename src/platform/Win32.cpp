#include "platform/Win32.h"

#include <windows.h>

namespace platform {

std::wstring WideFromUtf8(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8FromWide(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                            nullptr);
    return utf8;
}

std::string Win32ErrorText(unsigned long error)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    return Utf8FromWide(message);
}

UniqueHandle::UniqueHandle(void* handle) : m_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}

void UniqueHandle::Reset(void* handle)
{
    if (m_handle) {
        const DWORD saved = GetLastError();
        CloseHandle(m_handle);
        SetLastError(saved);
    }
    m_handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool UniqueHandle::Close()
{
    void* handle = Release();
    return handle == nullptr || CloseHandle(handle) != 0;
}

}  // namespace platform
