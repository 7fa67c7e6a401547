#include "records/ChangeRecord.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "config/IniFile.h"
#include "platform/Csv.h"
#include "platform/Posix.h"
#include "platform/ProgramDir.h"
#include "unit/Unit.h"

namespace records {

const char* const kChangeHeader =
    "time,user,host,device,address,az,type,firmware,what,name,before,sent,read_back,outcome";

namespace {

std::string SystemError(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string ChangeRecordPath(const std::string& configured, const std::string& programDir,
                             const std::string& xdgStateHome, const std::string& home)
{
    if (!configured.empty())
        return configured[0] == '/' ? configured : programDir + "/" + configured;
    const std::string folder = platform::UserBaseDirectory(xdgStateHome, home, ".local/state");
    return folder.empty() ? folder : folder + "/changes.csv";
}

std::string ChangeRecordPath()
{
    CIniFile config("CONFIG.INI", false);
    config.ReadString("GENERAL", "ChangeLog");
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    return ChangeRecordPath(config.GetValue(), platform::ProgramDirectory(), state ? state : "", home ? home : "");
}

std::string WhereOf(const SendItem& item)
{
    char text[32];
    switch (item.kind) {
    case SendItem::Kind::Global:
        std::snprintf(text, sizeof text, "Global %02d", item.index);
        break;
    case SendItem::Kind::ZoneParam:
        std::snprintf(text, sizeof text, "Zone%02d P%02d", item.zone, item.index);
        break;
    case SendItem::Kind::SetValue:
        std::snprintf(text, sizeof text, "Zone%02d P00", item.zone);
        break;
    }
    return text;
}

const char* OutcomeName(const SendOutcome& outcome)
{
    switch (outcome.code) {
    case WriteResult::Refused:
        return "refused";
    case WriteResult::NotAcknowledged:
        // The window and the CLI tell silence from a NAK the same way.
        return outcome.readBack == -1 ? "no-answer" : "nak";
    case WriteResult::LinkClosed:
        return "no-answer";
    case WriteResult::Acknowledged:
        break;
    }
    return outcome.bDiffers ? "differs" : "ok";
}

std::string LoginName()
{
    char name[256];
    if (getlogin_r(name, sizeof name) == 0 && name[0])
        return name;
    if (const passwd* account = getpwuid(getuid()))
        return account->pw_name;
    const char* user = std::getenv("USER");
    return user && *user ? user : "?";
}

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "?";
    return name;
}

// --- The file ----------------------------------------------------------------

CChangeFile::~CChangeFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

void CChangeFile::Fail(const std::string& what)
{
    if (!m_bFailed)
        m_strError = what;
    m_bFailed = true;
}

bool CChangeFile::Open(const std::string& path)
{
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    m_bFailed = false;
    m_strError.clear();
    if (path.empty()) {
        m_strError = "no place for it: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    const std::string folder = FolderOf(path);
    if (!platform::MakeDirectories(folder, m_strError))
        return false;
    struct stat info{};
    // Root writes into anything; a read-only file or folder still means the
    // owner does not want it changed.
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            m_strError = "it is a folder";
            return false;
        }
        if (S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0) {
            m_strError = "the file is read-only";
            return false;
        }
    } else if (stat(folder.c_str(), &info) == 0 && (info.st_mode & 0222) == 0) {
        m_strError = "the folder " + folder + " is read-only";
        return false;
    }
    m_fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (m_fd < 0) {
        m_strError = SystemError(errno);
        return false;
    }
    // The header goes only into an empty file, and only once when two
    // programs start at the same time: the check and the write under a lock.
    if (fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)) {
        flock(m_fd, LOCK_EX);
        bool bOk = true;
        if (fstat(m_fd, &info) == 0 && info.st_size == 0)
            bOk = platform::WriteAll(m_fd, std::string(kChangeHeader) + "\r\n");
        const int error = errno;
        flock(m_fd, LOCK_UN);
        if (!bOk) {
            m_strError = SystemError(error);
            close(m_fd);
            m_fd = -1;
            return false;
        }
    }
    return true;
}

bool CChangeFile::Append(const std::string& line)
{
    if (m_fd < 0) {
        Fail("the file is not open");
        return false;
    }
    ssize_t n;
    do
        n = write(m_fd, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(line.size()))
        return true;
    if (n < 0) {
        Fail(SystemError(errno));
        return false;
    }
    // A short write (the disk filling up): the rest still goes, so that
    // the line is not cut, and the job reports the failure.
    const int error = platform::WriteAll(m_fd, line.substr(static_cast<std::size_t>(n))) ? ENOSPC : errno;
    Fail(SystemError(error));
    return false;
}

bool CChangeFile::Close()
{
    if (m_fd < 0)
        return !m_bFailed;
    struct stat info{};
    // Only a regular file can be synced; a device or pipe has nothing to keep.
    if (fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode) && fsync(m_fd) != 0)
        Fail(SystemError(errno));
    if (close(m_fd) != 0)
        Fail(SystemError(errno));
    m_fd = -1;
    return !m_bFailed;
}

// --- One send's recording ------------------------------------------------------

RecordedUnit RecordedUnitOf(CUnit& unit, const std::string& device)
{
    RecordedUnit recorded;
    recorded.device = device;
    recorded.address = unit.GetAddress();
    // The link is closed here: these are the values the receive stored.
    recorded.azNumber = unit.QueryAZNumber();
    recorded.type = unit.QueryType();
    recorded.firmware = std::to_string(unit.QueryVersion());
    return recorded;
}

bool CSendRecorder::Begin(const std::string& path, const RecordedUnit& unit)
{
    m_unit = unit;
    m_strPath = path;
    m_strError.clear();
    m_strUser = LoginName();
    m_strHost = HostName();
    if (m_file.Open(path))
        return true;
    m_strError = m_file.Error();
    return false;
}

void CSendRecorder::SkipRecord(const RecordedUnit& unit)
{
    m_unit = unit;
    m_strError.clear();
}

std::optional<int32_t> CSendRecorder::HeldValue(const SendItem& item) const
{
    const auto zone = static_cast<std::size_t>(item.zone - 1);
    switch (item.kind) {
    case SendItem::Kind::Global: {
        const auto i = static_cast<std::size_t>(item.index - 1);
        if (item.index < 1 || i >= m_held.globals.size() || m_held.globals[i] == -1)
            return std::nullopt;
        return m_held.globals[i];
    }
    case SendItem::Kind::SetValue:
        if (item.zone < 1 || zone >= m_held.setValues.size())
            return std::nullopt;
        return m_held.setValues[zone];
    case SendItem::Kind::ZoneParam: {
        const auto p = static_cast<std::size_t>(item.index - 1);
        if (item.zone < 1 || item.index < 1 || zone >= m_held.zoneParams.size() || p >= m_held.zoneParams[zone].size())
            return std::nullopt;
        return m_held.zoneParams[zone][p];
    }
    }
    return std::nullopt;
}

std::string CSendRecorder::Line(const CUnit& unit, const SendOutcome& outcome, const std::string& time) const
{
    const SendItem& item = outcome.item;
    std::string name;
    if (item.kind == SendItem::Kind::Global)
        unit.GetParamDescription(item.index, name);
    const std::optional<int32_t> before = HeldValue(item);
    const std::string result = OutcomeName(outcome);
    const bool bNoReadBack = result == "no-answer";
    return platform::CsvLine({time, m_strUser, m_strHost, m_unit.device, std::to_string(m_unit.address),
                              std::to_string(m_unit.azNumber), m_unit.type, m_unit.firmware, WhereOf(item), name,
                              before ? std::to_string(*before) : std::string(), std::to_string(item.value),
                              bNoReadBack ? std::string() : std::to_string(outcome.readBack), result});
}

void CSendRecorder::FollowAnswer(const SendOutcome& outcome)
{
    if (std::string(OutcomeName(outcome)) == "no-answer")
        return;
    const SendItem& item = outcome.item;
    const auto zone = static_cast<std::size_t>(item.zone - 1);
    const int32_t value = outcome.readBack;
    switch (item.kind) {
    case SendItem::Kind::Global:
        if (item.index >= 1) {
            const auto i = static_cast<std::size_t>(item.index - 1);
            if (i >= m_held.globals.size())
                m_held.globals.resize(i + 1, -1);
            m_held.globals[i] = value;
        }
        break;
    case SendItem::Kind::SetValue:
        if (item.zone >= 1 && zone < m_held.setValues.size())
            m_held.setValues[zone] = value;
        break;
    case SendItem::Kind::ZoneParam:
        if (item.zone >= 1 && item.index >= 1 && zone < m_held.zoneParams.size() &&
            static_cast<std::size_t>(item.index - 1) < m_held.zoneParams[zone].size())
            m_held.zoneParams[zone][static_cast<std::size_t>(item.index - 1)] = value;
        break;
    }
}

void CSendRecorder::Record(const CUnit& unit, const SendOutcome& outcome)
{
    if (m_file.IsOpen())
        m_file.Append(Line(unit, outcome, platform::IsoLocalTime(std::chrono::system_clock::now())));
    FollowAnswer(outcome);
}

bool CSendRecorder::End()
{
    if (!m_file.IsOpen())
        return true;
    if (m_file.Close())
        return true;
    m_strError = m_file.Error();
    return false;
}

// --- Reading -------------------------------------------------------------------

std::optional<int64_t> ParseIsoTime(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &consumed) != 3 || consumed != 10)
        return std::nullopt;
    std::size_t pos = 10;
    long millis = 0;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        int n = 0;
        if (std::sscanf(text.c_str() + pos + 1, "%2d:%2d%n", &hour, &minute, &n) != 2 || n != 5)
            return std::nullopt;
        pos += 1 + 5;
        if (pos < text.size() && text[pos] == ':') {
            if (std::sscanf(text.c_str() + pos + 1, "%2d%n", &second, &n) != 1 || n != 2)
                return std::nullopt;
            pos += 3;
            if (pos < text.size() && text[pos] == '.') {
                std::size_t digits = 0;
                long scale = 100;
                while (pos + 1 + digits < text.size() && std::isdigit(static_cast<unsigned char>(text[pos + 1 + digits]))) {
                    millis += (text[pos + 1 + digits] - '0') * scale;
                    scale /= 10;
                    ++digits;
                }
                if (digits == 0)
                    return std::nullopt;
                pos += 1 + digits;
            }
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    std::time_t seconds;
    if (pos == text.size()) {
        parts.tm_isdst = -1;
        seconds = std::mktime(&parts);
    } else {
        int offHours = 0, offMinutes = 0, n = 0;
        long offset = 0;
        if (text.substr(pos) == "Z") {
            offset = 0;
        } else if ((text[pos] == '+' || text[pos] == '-') &&
                   std::sscanf(text.c_str() + pos + 1, "%2d:%2d%n", &offHours, &offMinutes, &n) == 2 &&
                   pos + 1 + static_cast<std::size_t>(n) == text.size() && n == 5) {
            offset = (offHours * 60L + offMinutes) * 60L * (text[pos] == '-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
        seconds = timegm(&parts) - offset;
    }
    return static_cast<int64_t>(seconds) * 1000 + millis;
}

bool ChangeFilter::Matches(const std::vector<std::string>& line) const
{
    if (line.size() < kChangeColumns)
        return false;
    if (azNumber != -1 && line[kColAz] != std::to_string(azNumber))
        return false;
    if (address != -1 && line[kColAddress] != std::to_string(address))
        return false;
    if (sinceMs) {
        const std::optional<int64_t> when = ParseIsoTime(line[kColTime]);
        if (!when || *when < *sinceMs)
            return false;
    }
    return true;
}

bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error)
{
    lines.clear();
    struct stat info{};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT)
        return true;
    std::ifstream in(path, std::ios::binary);
    if (!in || S_ISDIR(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "it is a folder" : SystemError(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::vector<std::string>> records = platform::CsvRecords(text.str());
    lines.reserve(records.size());
    for (std::vector<std::string>& record : records) {
        if (record.size() == 1 && record[0].empty())
            continue;
        // The header opens the file; two files joined by hand repeat it.
        if (record.size() > 1 && record[0] == "time" && record[kColUser] == "user") {
            continue;
        }
        if (record.size() < kChangeColumns)
            record.resize(kChangeColumns);
        lines.push_back(std::move(record));
    }
    return true;
}

}  // namespace records
