#include "records/ChangeRecord.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "config/IniFile.h"
#include "platform/Csv.h"
#include "platform/FileInfo.h"
#include "platform/LocalTime.h"
#include "platform/ProgramDir.h"
#include "unit/Unit.h"

namespace records {

const char* const kChangeHeader =
    "time,user,host,device,address,az,type,firmware,what,name,before,sent,read_back,outcome";

const char* const kUnconfirmed = "unconfirmed";

namespace {

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
        return configured[0] == '/' || std::filesystem::path(configured).is_absolute() ? configured
                                                                                      : programDir + "/" + configured;
    const std::string folder = platform::UserBaseDirectory(xdgStateHome, home, ".local/state");
    return folder.empty() ? folder : folder + "/changes.csv";
}

std::string ChangeRecordPath()
{
    CIniFile config("CONFIG.INI", false);
    config.ReadString("GENERAL", "ChangeLog");
    if (!config.GetValue().empty())
        return ChangeRecordPath(config.GetValue(), platform::ProgramDirectory(), "", "");
    // The system's own place for a user's records (the XDG state folder,
    // %LOCALAPPDATA% on Windows).
    const std::string folder = platform::DefaultUserDataDirectory();
    return folder.empty() ? folder : folder + "/changes.csv";
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
        return outcome.bWriteAnswered ? "nak" : "no-answer";
    case WriteResult::LinkClosed:
        return "no-answer";
    case WriteResult::Acknowledged:
        break;
    }
    return outcome.bDiffers ? "differs" : "ok";
}

bool IsTextColumn(int column)
{
    switch (column) {
    case kColUser:
    case kColHost:
    case kColDevice:
    case kColType:
    case kColWhat:
    case kColName:
        return true;
    default:
        return false;
    }
}

std::string ChangeLine(std::vector<std::string> fields)
{
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::replace(fields[i].begin(), fields[i].end(), '\r', ' ');
        std::replace(fields[i].begin(), fields[i].end(), '\n', ' ');
        if (IsTextColumn(static_cast<int>(i)))
            fields[i] = platform::SpreadsheetText(fields[i]);
    }
    return platform::CsvLine(fields);
}

// --- The file ----------------------------------------------------------------

namespace {

// The first line of a file's head: complete (its line end seen) or not.
std::string_view FirstLine(std::string_view head, bool& bWhole)
{
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    const std::size_t end = head.find('\n');
    bWhole = end != std::string_view::npos;
    std::string_view line = head.substr(0, bWhole ? end : head.size());
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

constexpr std::size_t kHeadBytes = 4096;

}  // namespace

void CChangeFile::Fail(const std::string& what)
{
    if (!m_bFailed)
        m_strError = what;
    m_bFailed = true;
}

bool CChangeFile::Open(const std::string& path)
{
    std::string error;
    m_file.Close(error);
    m_bFailed = false;
    m_bForeign = false;
    m_strRepaired.clear();
    m_strError.clear();
    if (path.empty()) {
        m_strError = "no place for it: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    const std::string folder = FolderOf(path);
    if (!platform::MakeDirectories(folder, m_strError))
        return false;
    // Root writes into anything; a read-only file or folder still means the
    // owner does not want it changed.
    const platform::FileInfo info = platform::InfoOf(path);
    if (info.bDirectory) {
        m_strError = "it is a folder";
        return false;
    }
    if (info.bRegular && info.bReadOnly) {
        m_strError = "the file is read-only";
        return false;
    }
    if (!info.bExists) {
        const platform::FileInfo parent = platform::InfoOf(folder);
        if (parent.bExists && parent.bReadOnly) {
            m_strError = "the folder " + folder + " is read-only";
            return false;
        }
    }
    if (!m_file.Open(path, platform::CAppendFile::Create::IfMissing, m_strError))
        return false;
    if (!m_file.IsRegular())
        return true;
    // Lines go only under the record's own header: a file of another kind
    // (a link to a spreadsheet's CSV, a mistyped ChangeLog=) is left alone.
    std::string head;
    if (!m_file.ReadHead(kHeadBytes, head, m_strError)) {
        m_file.Close(error);
        return false;
    }
    bool bWhole = false;
    const std::string_view first = FirstLine(head, bWhole);
    const std::string_view header(kChangeHeader);
    if (!head.empty() && (bWhole ? first != header : header.substr(0, first.size()) != first)) {
        m_bForeign = true;
        m_strError = "it is not a change record (its first line is not the record's header)";
        m_file.Close(error);
        return false;
    }
    if (!m_file.RepairLastLine(m_strRepaired, m_strError) ||
        !m_file.AppendFirstLine(std::string(kChangeHeader) + "\r\n", m_strError)) {
        m_file.Close(error);
        return false;
    }
    return true;
}

bool CChangeFile::Append(const std::string& line)
{
    std::string error;
    if (m_file.AppendLine(line, error))
        return true;
    Fail(error);
    return false;
}

bool CChangeFile::Close()
{
    if (!m_file.IsOpen())
        return !m_bFailed;
    std::string error;
    if (!m_file.Sync(error))
        Fail(error);
    if (!m_file.Close(error))
        Fail(error);
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

bool CSendRecorder::Begin(const std::string& path, const RecordedUnit& unit, const std::string& user)
{
    m_unit = unit;
    m_strPath = path;
    m_strError.clear();
    m_strSendingTime.clear();
    m_strUser = user.empty() ? platform::LoginName() : user;
    m_strHost = platform::HostName();
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

std::string CSendRecorder::LineOf(const CUnit& unit, const SendItem& item, const std::string& readBack,
                                  const char* outcome, const std::string& time) const
{
    std::string name;
    if (item.kind == SendItem::Kind::Global)
        unit.GetParamDescription(item.index, name);
    const std::optional<int32_t> before = HeldValue(item);
    return ChangeLine({time, m_strUser, m_strHost, m_unit.device, std::to_string(m_unit.address),
                       std::to_string(m_unit.azNumber), m_unit.type, m_unit.firmware, WhereOf(item), name,
                       before ? std::to_string(*before) : std::string(), std::to_string(item.value), readBack,
                       outcome});
}

std::string CSendRecorder::Line(const CUnit& unit, const SendOutcome& outcome, const std::string& time) const
{
    // -1 after a write that was not taken is a read-back that failed too:
    // the record says it does not know rather than show -1.
    const bool bReadBackKnown = outcome.code == WriteResult::Acknowledged || outcome.code == WriteResult::Refused ||
                                outcome.readBack != -1;
    return LineOf(unit, outcome.item, bReadBackKnown ? std::to_string(outcome.readBack) : std::string(),
                  OutcomeName(outcome), time);
}

void CSendRecorder::FollowAnswer(const SendOutcome& outcome)
{
    if (outcome.code != WriteResult::Acknowledged && outcome.code != WriteResult::Refused && outcome.readBack == -1)
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

bool CSendRecorder::Sending(const CUnit& unit, const SendItem& item)
{
    if (!m_file.IsOpen())
        return m_strError.empty();
    m_strSendingTime = platform::IsoLocalTime(std::chrono::system_clock::now());
    if (m_file.Append(LineOf(unit, item, std::string(), kUnconfirmed, m_strSendingTime)))
        return true;
    m_strError = m_file.Error();
    return false;
}

bool CSendRecorder::Record(const CUnit& unit, const SendOutcome& outcome)
{
    bool bOk = m_strError.empty();
    if (m_file.IsOpen()) {
        // The final line carries the time of its unconfirmed line, which is
        // how a reader pairs them.
        const std::string time = m_strSendingTime.empty() ? platform::IsoLocalTime(std::chrono::system_clock::now())
                                                          : m_strSendingTime;
        m_strSendingTime.clear();
        if (!m_file.Append(Line(unit, outcome, time))) {
            m_strError = m_file.Error();
            bOk = false;
        }
    }
    FollowAnswer(outcome);
    return bOk;
}

bool CSendRecorder::End()
{
    if (!m_file.IsOpen())
        return m_strError.empty();
    if (m_file.Close() && m_strError.empty())
        return true;
    if (m_strError.empty())
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
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool bLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !bLeap) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
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
        seconds = platform::SecondsOfUtc(parts) - offset;
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

namespace {

bool IsWhole(const std::string& text, bool bEmptyToo)
{
    if (text.empty())
        return bEmptyToo;
    const std::size_t start = text[0] == '-' ? 1 : 0;
    return text.size() > start && text.size() <= 12 && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// Whether the fields are a record line as a send writes it: a damaged or
// foreign line must not pass for one, nor be matched by a filter.
bool IsRecordLine(const std::vector<std::string>& fields)
{
    static const char* const kOutcomes[] = {"ok", "differs", "nak", "no-answer", "refused", kUnconfirmed};
    if (fields.size() != kChangeColumns || !ParseIsoTime(fields[kColTime]))
        return false;
    if (!IsWhole(fields[kColAddress], false) || fields[kColAddress].size() > 2 || fields[kColAddress][0] == '-')
        return false;
    if (!IsWhole(fields[kColAz], false) || !IsWhole(fields[kColSent], false) || !IsWhole(fields[kColBefore], true) ||
        !IsWhole(fields[kColReadBack], true) || fields[kColWhat].empty())
        return false;
    return std::any_of(std::begin(kOutcomes), std::end(kOutcomes),
                       [&](const char* name) { return fields[kColOutcome] == name; });
}

// An unconfirmed line and its outcome line share these.
std::string PairKey(const std::vector<std::string>& fields)
{
    std::string key;
    for (int column : {kColTime, kColUser, kColHost, kColDevice, kColAddress, kColWhat, kColSent}) {
        key += fields[static_cast<std::size_t>(column)];
        key += '\x1f';
    }
    return key;
}

}  // namespace

std::vector<std::vector<std::string>> ParseChangeRecord(std::string_view text, ChangeReadNotes& notes)
{
    notes = {};
    std::vector<std::vector<std::string>> lines;
    bool bFirst = true;
    std::vector<std::string> fields;
    // Unconfirmed lines still waiting for their outcome, by PairKey.
    std::unordered_map<std::string, std::size_t> open;
    std::vector<bool> settled;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (bFirst) {
            bFirst = false;
            if (line.substr(0, 3) == "\xEF\xBB\xBF")
                line.remove_prefix(3);
            // A header cut short is what a full disk leaves of a new record.
            const bool bTornHeader = text.empty() && end == std::string_view::npos &&
                                     std::string_view(kChangeHeader).substr(0, line.size()) == line;
            if (line != kChangeHeader && !bTornHeader) {
                notes.bForeign = true;
                return {};
            }
            continue;
        }
        // The header again: two records joined by hand.
        if (line.empty() || line == kChangeHeader)
            continue;
        if (!platform::CsvLineFields(line, fields) || !IsRecordLine(fields)) {
            ++notes.nDamaged;
            continue;
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (IsTextColumn(static_cast<int>(i)))
                fields[i] = platform::PlainText(fields[i]);
        }
        const std::string key = PairKey(fields);
        if (fields[kColOutcome] == kUnconfirmed) {
            open[key] = lines.size();
        } else if (const auto it = open.find(key); it != open.end()) {
            settled.resize(lines.size(), false);
            settled[it->second] = true;
            open.erase(it);
        }
        lines.push_back(fields);
    }
    if (!settled.empty()) {
        settled.resize(lines.size(), false);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (settled[i])
                continue;
            if (kept != i)
                lines[kept] = std::move(lines[i]);
            ++kept;
        }
        lines.resize(kept);
    }
    return lines;
}

bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error,
                      ChangeReadNotes& notes)
{
    lines.clear();
    notes = {};
    const platform::FileInfo info = platform::InfoOf(path);
    if (!info.bExists && info.error.empty())
        return true;
    if (info.bDirectory) {
        error = "it is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = info.error.empty() ? platform::SystemErrorText(errno) : info.error;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    lines = ParseChangeRecord(text.str(), notes);
    if (notes.bForeign) {
        error = "it is not a change record (its first line is not the record's header)";
        return false;
    }
    return true;
}

bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error)
{
    ChangeReadNotes notes;
    return ReadChangeRecord(path, lines, error, notes);
}

}  // namespace records
