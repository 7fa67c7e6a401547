#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileInfo.h"

namespace platform {

namespace {

// Holds the file's lock for one step, so that another program's line or
// repair never lands between our size check and our write.
class FileLock
{
public:
    FileLock(int fd, bool bTake) : m_fd(bTake ? fd : -1)
    {
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FileLock()
    {
        if (m_fd >= 0) {
            const int saved = errno;
            ::flock(m_fd, LOCK_UN);
            errno = saved;
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd;
};

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

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
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | (create == Create::New ? O_EXCL : 0);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = errno == EEXIST && create == Create::New ? "the file exists already" : SystemErrorText(errno);
        return false;
    }
    struct stat st{};
    m_bRegular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    m_handle = fd;
    m_bOwned = true;
    return true;
}

bool CAppendFile::OpenStandardOutput()
{
    std::string ignored;
    Close(ignored);
    struct stat st{};
    m_bRegular = ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    m_handle = STDOUT_FILENO;
    m_bOwned = false;
    return true;
}

bool CAppendFile::ReadHead(std::size_t max, std::string& text, std::string& error) const
{
    text.clear();
    if (!m_bRegular)
        return true;
    // A descriptor opened for writing only cannot read: a second one that can.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", Fd(m_handle));
    int fd = ::open(link, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    char buffer[4096];
    while (text.size() < max) {
        const ssize_t n = ::pread(fd, buffer, std::min(sizeof buffer, max - text.size()), static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = SystemErrorText(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool CAppendFile::RepairLastLine(std::string& cut, std::string& error)
{
    cut.clear();
    if (m_handle < 0 || !m_bRegular)
        return true;
    const int fd = Fd(m_handle);
    const FileLock lock(fd, true);
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const int rfd = ::open(link, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (rfd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    // Backwards from the end to the last line end.
    long long keep = 0;
    std::string tail;
    const bool bRead = FindLastLineEnd(st.st_size, [&](long long start, char* buffer, std::size_t length) {
        ssize_t n = -1;
        do
            n = ::pread(rfd, buffer, length, static_cast<off_t>(start));
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            error = n < 0 ? SystemErrorText(errno) : "the file shrank while it was read";
        return static_cast<long long>(n);
    }, keep, tail);
    if (!bRead) {
        ::close(rfd);
        return false;
    }
    ::close(rfd);
    if (keep == st.st_size)
        return true;
    if (::ftruncate(fd, static_cast<off_t>(keep)) != 0) {
        error = SystemErrorText(errno);
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
    const int fd = Fd(m_handle);
    const FileLock lock(fd, m_bRegular);
    struct stat st{};
    const off_t before = m_bRegular && ::fstat(fd, &st) == 0 ? st.st_size : -1;
    if (bOnlyIfEmpty && before != 0)
        return true;
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // No progress and no error: nothing more fits.
        const int err = n < 0 ? errno : ENOSPC;
        error = SystemErrorText(err);
        if (done > 0 && before >= 0 && ::ftruncate(fd, before) != 0)
            error += "; the part written could not be taken back: " + SystemErrorText(errno);
        return false;
    }
    return true;
}

bool CAppendFile::Sync(std::string& error)
{
    if (m_handle < 0 || !m_bRegular)
        return true;
    if (::fsync(Fd(m_handle)) == 0 || errno == EINVAL || errno == EROFS)
        return true;
    error = SystemErrorText(errno);
    return false;
}

bool CAppendFile::Close(std::string& error)
{
    if (m_handle < 0)
        return true;
    const int fd = Fd(m_handle);
    const bool bOwned = m_bOwned;
    m_handle = -1;
    m_bOwned = false;
    m_bRegular = false;
    if (!bOwned)
        return true;
    if (::close(fd) == 0)
        return true;
    error = SystemErrorText(errno);
    return false;
}

}  // namespace platform
