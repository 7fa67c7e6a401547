#include "monitor/CsvRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Csv.h"
#include "unit/Unit.h"

namespace {

std::string ZoneName(int zone)
{
    char text[16];
    std::snprintf(text, sizeof text, "Z%02d", zone);
    return text;
}

// The zone columns of an existing recording's first line, 0 when it is not
// one of ours; -1 when the file cannot be read.
int ColumnsOfExisting(int fd)
{
    std::string head;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(head.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        head.append(buffer, static_cast<std::size_t>(n));
        if (head.find('\n') != std::string::npos || head.size() > 64 * 1024)
            break;
    }
    const std::size_t end = head.find('\n');
    if (end == std::string::npos)
        return 0;
    const auto records = platform::CsvRecords(std::string_view(head).substr(0, end + 1));
    if (records.empty())
        return 0;
    const std::vector<std::string>& fields = records.front();
    if (fields.size() < 4 || fields.size() % 2 != 0 || fields[0] != "time" || fields[1] != "address")
        return 0;
    const int columns = static_cast<int>(fields.size() - 2) / 2;
    return CCsvRecorder::HeaderLine(columns) == platform::CsvLine(fields) ? columns : 0;
}

}  // namespace

CCsvRecorder::~CCsvRecorder()
{
    Close();
}

bool CCsvRecorder::Open(const std::string& path, bool bAppend, std::string& error)
{
    Close();
    m_strError.clear();
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    // An exclusive create would call a folder a file that exists.
    struct stat named{};
    if (::stat(path.c_str(), &named) == 0 && S_ISDIR(named.st_mode)) {
        error = path + ": a folder, not a file";
        return false;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (bAppend ? O_APPEND : O_EXCL);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        const int err = errno;
        error = path + ": " + (err == EEXIST ? std::string("the file exists already") : std::strerror(err));
        return false;
    }
    struct stat st{};
    int columns = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // Appending is only safe to a file of this form: lines of another
        // layout would land under a header that does not name them.
        const int rfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        columns = rfd >= 0 ? ColumnsOfExisting(rfd) : -1;
        if (rfd >= 0)
            ::close(rfd);
        if (columns <= 0) {
            ::close(fd);
            error = path + (columns < 0 ? ": cannot be read" : ": not a recording of live values, nothing appended");
            return false;
        }
    }
    m_fd = fd;
    m_bOwnsFd = true;
    m_strPath = path;
    m_nColumns = columns;
    m_bHeaderOut = columns > 0;
    m_nLines = 0;
    m_tLastSync = std::chrono::steady_clock::now();
    return true;
}

bool CCsvRecorder::OpenDescriptor(int fd, const std::string& name)
{
    Close();
    m_strError.clear();
    if (fd < 0)
        return false;
    m_fd = fd;
    m_bOwnsFd = false;
    m_strPath = name;
    m_nColumns = 0;
    m_bHeaderOut = false;
    m_nLines = 0;
    return true;
}

void CCsvRecorder::SetZoneColumns(int columns)
{
    if (!m_bHeaderOut)
        m_nColumns = std::clamp(columns, 1, kMaxZones);
}

std::string CCsvRecorder::HeaderLine(int columns)
{
    std::vector<std::string> fields{"time", "address"};
    for (int zone = 1; zone <= columns; ++zone) {
        fields.push_back(ZoneName(zone) + " actual");
        fields.push_back(ZoneName(zone) + " set");
    }
    return platform::CsvLine(fields);
}

std::string CCsvRecorder::SampleLine(const MonitorSample& sample, int columns)
{
    std::vector<std::string> fields;
    fields.reserve(2 + 2 * static_cast<std::size_t>(std::max(columns, 0)));
    fields.push_back(platform::IsoLocalTime(sample.tWall));
    fields.push_back(std::to_string(sample.nAddress));
    auto value = [](const std::vector<int32_t>& row, std::size_t z) {
        return z < row.size() && row[z] != kNoValue ? std::to_string(row[z]) : std::string();
    };
    for (std::size_t z = 0; z < static_cast<std::size_t>(std::max(columns, 0)); ++z) {
        fields.push_back(value(sample.actual, z));
        fields.push_back(value(sample.set, z));
    }
    return platform::CsvLine(fields);
}

bool CCsvRecorder::Write(const MonitorSample& sample)
{
    if (m_fd < 0)
        return false;
    if (!m_bHeaderOut) {
        if (m_nColumns <= 0)
            SetZoneColumns(static_cast<int>(std::max(sample.actual.size(), sample.set.size())));
        if (!WriteLine(HeaderLine(m_nColumns)))
            return false;
        m_bHeaderOut = true;
    }
    if (!WriteLine(SampleLine(sample, m_nColumns)))
        return false;
    ++m_nLines;
    const auto now = std::chrono::steady_clock::now();
    if (m_bOwnsFd && now - m_tLastSync >= kSyncInterval) {
        m_tLastSync = now;
        // A failed sync is a failed write that the disk owned up to late:
        // the lines are not safe, and nothing says later ones would be.
        if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) {
            Fail("cannot be written", errno);
            return false;
        }
    }
    return true;
}

bool CCsvRecorder::WriteLine(const std::string& line)
{
    // Where the file ended after its last whole line: a line that goes out
    // in part is taken back to there.
    struct stat st{};
    const bool bRegular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    const off_t before = bRegular ? st.st_size : 0;
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int err = n < 0 ? errno : ENOSPC;
        if (bRegular && done > 0)
            (void)::ftruncate(m_fd, before);
        Fail("cannot be written", err);
        return false;
    }
    return true;
}

void CCsvRecorder::Fail(const std::string& what, int err)
{
    m_strError = m_strPath + " " + what + (err != 0 ? std::string(": ") + std::strerror(err) : std::string()) +
                 "; the recording stopped after " + std::to_string(m_nLines) + " lines";
    if (m_bOwnsFd)
        ::close(m_fd);
    m_fd = -1;
}

bool CCsvRecorder::Close()
{
    if (m_fd < 0)
        return true;
    const int fd = std::exchange(m_fd, -1);
    if (!m_bOwnsFd)
        return true;
    int err = ::fsync(fd) == 0 ? 0 : errno;
    // EINVAL: a pipe or a terminal, which has nothing to sync.
    if (err == EINVAL)
        err = 0;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0)
        return true;
    m_strError = m_strPath + " could not be closed: " + std::strerror(err) + "; its last lines may be lost";
    return false;
}
