#include "platform/AppendFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/Win32.h"

namespace platform {

namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// One byte far beyond any real end of file serves as the lock: Windows locks
// are mandatory, so locking the data itself would also block the reads and
// the cut that other handles of ours make under it.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// Holds the file's lock for one step, so that another program's line or
// repair never lands between our size check and our write.
class FileLock
{
public:
    FileLock(HANDLE file, bool bTake) : m_file(bTake ? file : nullptr)
    {
        if (m_file && !LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, Where()))
            m_file = nullptr;
    }
    ~FileLock()
    {
        if (m_file) {
            const DWORD saved = GetLastError();
            UnlockFileEx(m_file, 0, 1, 0, Where());
            SetLastError(saved);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    OVERLAPPED* Where()
    {
        m_where = OVERLAPPED{};
        m_where.OffsetHigh = kLockOffsetHigh;
        return &m_where;
    }

    HANDLE m_file;
    OVERLAPPED m_where{};
};

bool IsDisk(HANDLE file) { return file && file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK; }

bool SizeOf(HANDLE file, long long& size)
{
    LARGE_INTEGER n{};
    if (!GetFileSizeEx(file, &n))
        return false;
    size = n.QuadPart;
    return true;
}

// A second handle on the file behind file, with other rights: the appending
// handle can neither read nor cut.
UniqueHandle Reopen(HANDLE file, DWORD access)
{
    std::wstring name(32768, L'\0');
    const DWORD n = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= name.size())
        return UniqueHandle();
    name.resize(n);
    return UniqueHandle(CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadAt(HANDLE file, long long offset, char* buffer, DWORD size, DWORD& got)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    got = 0;
    if (ReadFile(file, buffer, size, &got, &at))
        return true;
    return GetLastError() == ERROR_HANDLE_EOF;
}

bool CutTo(HANDLE file, long long size)
{
    UniqueHandle writer = Reopen(file, GENERIC_WRITE);
    if (!writer)
        return false;
    LARGE_INTEGER at{};
    at.QuadPart = size;
    return SetFilePointerEx(writer.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(writer.Get());
}

}  // namespace

CAppendFile::~CAppendFile()
{
    std::string ignored;
    Close(ignored);
}

bool CAppendFile::Open(const std::string& path, Create create, std::string& error)
{
    Close(error);
    error.clear();
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
    // whatever another writer did meanwhile.
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              create == Create::New ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        error = (why == ERROR_FILE_EXISTS || why == ERROR_ALREADY_EXISTS) && create == Create::New
                    ? "the file exists already"
                    : Win32ErrorText(why);
        return false;
    }
    m_bRegular = IsDisk(file);
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_bOwned = true;
    return true;
}

bool CAppendFile::OpenStandardOutput()
{
    std::string ignored;
    Close(ignored);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    m_bRegular = IsDisk(out);
    m_handle = reinterpret_cast<std::intptr_t>(out);
    m_bOwned = false;
    return true;
}

bool CAppendFile::ReadHead(std::size_t max, std::string& text, std::string& error) const
{
    text.clear();
    if (!m_bRegular)
        return true;
    UniqueHandle reader = Reopen(Handle(m_handle), GENERIC_READ);
    if (!reader) {
        error = Win32ErrorText(GetLastError());
        return false;
    }
    char buffer[4096];
    while (text.size() < max) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, max - text.size()));
        if (!ReadAt(reader.Get(), static_cast<long long>(text.size()), buffer, want, got)) {
            error = Win32ErrorText(GetLastError());
            return false;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    return true;
}

bool CAppendFile::RepairLastLine(std::string& cut, std::string& error)
{
    cut.clear();
    if (m_handle < 0 || !m_bRegular)
        return true;
    HANDLE file = Handle(m_handle);
    const FileLock lock(file, true);
    long long size = 0;
    if (!SizeOf(file, size)) {
        error = Win32ErrorText(GetLastError());
        return false;
    }
    UniqueHandle reader = Reopen(file, GENERIC_READ);
    if (!reader) {
        error = Win32ErrorText(GetLastError());
        return false;
    }
    // Backwards from the end to the last line end.
    long long keep = 0;
    std::string tail;
    const bool bRead = FindLastLineEnd(size, [&](long long start, char* buffer, std::size_t length) {
        DWORD got = 0;
        if (!ReadAt(reader.Get(), start, buffer, static_cast<DWORD>(length), got) || got == 0) {
            error = got == 0 && GetLastError() == ERROR_HANDLE_EOF ? "the file shrank while it was read"
                                                                    : Win32ErrorText(GetLastError());
            return 0LL;
        }
        return static_cast<long long>(got);
    }, keep, tail);
    if (!bRead)
        return false;
    reader.Reset();
    if (keep == size)
        return true;
    if (!CutTo(file, keep)) {
        error = Win32ErrorText(GetLastError());
        return false;
    }
    cut = std::move(tail);
    return true;
}

bool CAppendFile::AppendLine(std::string_view line, std::string& error) { return Append(line, false, error); }

bool CAppendFile::AppendFirstLine(std::string_view line, std::string& error) { return Append(line, true, error); }

bool CAppendFile::Append(std::string_view line, bool bOnlyIfEmpty, std::string& error)
{
    if (m_handle < 0) {
        error = "the file is not open";
        return false;
    }
    HANDLE file = Handle(m_handle);
    const FileLock lock(file, m_bRegular);
    long long before = -1;
    if (m_bRegular && !SizeOf(file, before))
        before = -1;
    if (bOnlyIfEmpty && before != 0)
        return true;
    std::size_t done = 0;
    while (done < line.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(line.size() - done, 1u << 20));
        DWORD written = 0;
        const bool bOk = WriteFile(file, line.data() + done, chunk, &written, nullptr);
        if (bOk && written > 0) {
            done += written;
            continue;
        }
        // No progress and no error: nothing more fits.
        const DWORD why = bOk ? ERROR_DISK_FULL : GetLastError();
        error = Win32ErrorText(why);
        if (done > 0 && before >= 0 && !CutTo(file, before))
            error += "; the part written could not be taken back: " + Win32ErrorText(GetLastError());
        return false;
    }
    return true;
}

bool CAppendFile::Sync(std::string& error)
{
    if (m_handle < 0 || !m_bRegular)
        return true;
    if (FlushFileBuffers(Handle(m_handle)))
        return true;
    error = Win32ErrorText(GetLastError());
    return false;
}

bool CAppendFile::Close(std::string& error)
{
    if (m_handle < 0)
        return true;
    HANDLE file = Handle(m_handle);
    const bool bOwned = m_bOwned;
    m_handle = -1;
    m_bOwned = false;
    m_bRegular = false;
    if (!bOwned)
        return true;
    if (CloseHandle(file))
        return true;
    error = Win32ErrorText(GetLastError());
    return false;
}

}  // namespace platform
