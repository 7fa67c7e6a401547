#include "monitor/CsvRecorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Csv.h"
#include "platform/FileInfo.h"
#include "unit/Unit.h"

namespace {

std::string ZoneName(int zone)
{
    char text[16];
    std::snprintf(text, sizeof text, "Z%02d", zone);
    return text;
}

// The zone columns of an existing recording's first line (from its first
// bytes), 0 when it is not one of ours.
int ColumnsOfExisting(const std::string& head)
{
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
    error.clear();
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    // An exclusive create would call a folder a file that exists.
    if (platform::InfoOf(path).bDirectory) {
        error = path + ": a folder, not a file";
        return false;
    }
    using Create = platform::CAppendFile::Create;
    if (!m_file.Open(path, bAppend ? Create::IfMissing : Create::New, error)) {
        error = path + ": " + error;
        return false;
    }
    int columns = 0;
    std::string cut;
    if (m_file.IsRegular() && bAppend) {
        // Appending is only safe to a file of this form: lines of another
        // layout would land under a header that does not name them.
        std::string head, reason;
        if (!m_file.ReadHead(64 * 1024, head, reason)) {
            error = path + ": cannot be read (" + reason + ")";
            m_file.Close(reason);
            return false;
        }
        columns = head.empty() ? 0 : ColumnsOfExisting(head);
        if (!head.empty() && columns <= 0) {
            error = path + ": not a recording of live values, nothing appended";
            m_file.Close(reason);
            return false;
        }
        // A recording that ended in a crash has a last line without its
        // line end; the first new line must not be glued to it.
        if (!m_file.RepairLastLine(cut, reason)) {
            error = path + ": its last line, which has no line end, cannot be cut off (" + reason + ")";
            m_file.Close(reason);
            return false;
        }
    }
    m_bOwnsFd = true;
    m_strPath = path;
    m_nColumns = columns;
    m_bHeaderOut = columns > 0;
    m_nLines = 0;
    m_tLastSync = std::chrono::steady_clock::now();
    if (!cut.empty())
        error = path + ": its last line had no line end (" + std::to_string(cut.size()) +
                " bytes, left by an interrupted recording) and was cut off";
    return true;
}

bool CCsvRecorder::OpenDescriptor(int fd, const std::string& name)
{
    Close();
    m_strError.clear();
    if (fd != 1 || !m_file.OpenStandardOutput())
        return false;
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
    if (!m_file.IsOpen())
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
        std::string reason;
        if (!m_file.Sync(reason)) {
            Fail("cannot be written", reason);
            return false;
        }
    }
    return true;
}

bool CCsvRecorder::WriteLine(const std::string& line)
{
    std::string reason;
    if (m_file.AppendLine(line, reason))
        return true;
    Fail("cannot be written", reason);
    return false;
}

void CCsvRecorder::Fail(const std::string& what, const std::string& reason)
{
    m_strError = m_strPath + " " + what + (reason.empty() ? std::string() : ": " + reason) +
                 "; the recording stopped after " + std::to_string(m_nLines) + " lines";
    std::string ignored;
    m_file.Close(ignored);
}

bool CCsvRecorder::Close()
{
    if (!m_file.IsOpen())
        return true;
    std::string reason;
    const bool bSynced = !m_bOwnsFd || m_file.Sync(reason);
    std::string closeReason;
    const bool bClosed = m_file.Close(closeReason);
    if (bSynced && bClosed)
        return true;
    m_strError = m_strPath + " could not be closed: " + (bSynced ? closeReason : reason) + "; its last lines may be lost";
    return false;
}
