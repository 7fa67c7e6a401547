#pragma once

#include <string>

// The Windows idioms the platform layer needs more than once, written once.
// Paths inside the program are UTF-8 std::strings; every call into Windows
// takes them as UTF-16 (the W functions), so any file name works.
namespace platform {

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
// The system's text for a GetLastError() code, without the trailing line end.
std::string Win32ErrorText(unsigned long error);

// An open HANDLE that is closed when its owner goes. Holds void* so that
// this header needs no windows.h.
class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void* handle);
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    void* Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void* Release()
    {
        void* handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    // Closes the held handle (GetLastError is kept) and holds handle.
    void Reset(void* handle = nullptr);
    // Closes now; false when CloseHandle reported an error.
    bool Close();

private:
    void* m_handle = nullptr; // never INVALID_HANDLE_VALUE: that is stored as null
};

}  // namespace platform
