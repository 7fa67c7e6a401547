#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workflows/Jobs.h"

class CUnit;

// The change record: one CSV line per value a send wrote, appended as soon as
// its read-back is known, for whoever must later say what was changed on
// which unit, when, by whom, and whether the unit took it.
namespace records {

// The record's header line, without its line end.
extern const char* const kChangeHeader;

// The columns of a record line, in the order of kChangeHeader.
enum ChangeColumn
{
    kColTime, kColUser, kColHost, kColDevice, kColAddress, kColAz, kColType, kColFirmware,
    kColWhat, kColName, kColBefore, kColSent, kColReadBack, kColOutcome,
    kChangeColumns
};

// Where the record lives: configured (CONFIG.INI [GENERAL] ChangeLog=) when
// not empty, a relative one taken from programDir; else
// xdgStateHome/vorlent/changes.csv when xdgStateHome is absolute; else
// home/.local/state/vorlent/changes.csv. Empty when none of them is usable.
std::string ChangeRecordPath(const std::string& configured, const std::string& programDir,
                             const std::string& xdgStateHome, const std::string& home);
// The same from CONFIG.INI and the environment.
std::string ChangeRecordPath();

// "Global 07", "Zone05 P03", "Zone05 P00" (the set value); zones as the
// recipe numbers them, so zone 100 is "Zone100".
std::string WhereOf(const SendItem& item);

// The outcome column for what the send job reported: ok, differs, nak,
// no-answer or refused.
const char* OutcomeName(const SendOutcome& outcome);

// The login name: the session's, else the account's, else $USER; "?" when
// none is known. The host name, "?" when unknown.
std::string LoginName();
std::string HostName();

// The file, opened for appending. Each Append is one write() of a whole line
// to a descriptor opened with O_APPEND, so lines of two programs appending at
// the same time never interleave.
class CChangeFile
{
public:
    CChangeFile() = default;
    ~CChangeFile();
    CChangeFile(const CChangeFile&) = delete;
    CChangeFile& operator=(const CChangeFile&) = delete;

    // Creates the missing folders (mode 0700) and opens path for appending;
    // an empty regular file gets the header line first. False with Error()
    // when the file cannot be appended to: no path, a directory, a read-only
    // file or folder (by its mode bits, which hold for root too), a failed
    // header write. A file still open from before is closed first.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    // One whole line (its line end included). False, with Error() kept for
    // Close, when the write failed or was short.
    bool Append(const std::string& line);
    // fsync and close. False when an Append or the fsync failed; Error()
    // says the first failure.
    bool Close();
    const std::string& Error() const { return m_strError; }

private:
    void Fail(const std::string& what);
    int m_fd = -1;
    bool m_bFailed = false;
    std::string m_strError;
};

// The unit a send goes to, as the record names it.
struct RecordedUnit
{
    std::string device;
    int address = 0;
    int azNumber = 0;
    std::string type;
    std::string firmware;
};
RecordedUnit RecordedUnitOf(CUnit& unit, const std::string& device);

// One send job's recording: opened before the first value goes out, one line
// per outcome, fsync at the end. It also keeps what the tool held of the
// unit before each edit (the last receive, then every answered read-back),
// which the window keeps across sends.
class CSendRecorder
{
public:
    // What the tool holds of the unit; replaced at every receive.
    void SetHeld(const UnitValues& held) { m_held = held; }

    // Opens the record at path for this unit. False with Error() when it
    // cannot be appended to (nothing should be sent then, unless the user
    // chooses to send without a record: SkipRecord()).
    bool Begin(const std::string& path, const RecordedUnit& unit);
    // Records nothing for this job, but still follows the held values.
    void SkipRecord(const RecordedUnit& unit);
    // The line for one outcome (name: the global parameter's description in
    // the active language, empty for zone values), appended; then the held
    // value follows the unit's answer.
    void Record(const CUnit& unit, const SendOutcome& outcome);
    // Ends the job: fsync and close. False with Error() when a line could not
    // be written; true for a job without a record.
    bool End();
    const std::string& Error() const { return m_strError; }
    const std::string& Path() const { return m_strPath; }

    // The record line of one outcome, without writing it.
    std::string Line(const CUnit& unit, const SendOutcome& outcome, const std::string& time) const;

private:
    std::optional<int32_t> HeldValue(const SendItem& item) const;
    void FollowAnswer(const SendOutcome& outcome);

    UnitValues m_held;
    RecordedUnit m_unit;
    CChangeFile m_file;
    std::string m_strPath;
    std::string m_strError;
    std::string m_strUser;
    std::string m_strHost;
};

// Milliseconds since 1970 of "YYYY-MM-DD[THH:MM[:SS[.fff]]][Z|+HH:MM|-HH:MM]"
// (a blank may stand for the T); without an offset the time is local.
// Nullopt for anything else.
std::optional<int64_t> ParseIsoTime(const std::string& text);

// Which record lines to show: -1 / nullopt for no condition.
struct ChangeFilter
{
    int azNumber = -1;
    int address = -1;
    std::optional<int64_t> sinceMs;
    bool Matches(const std::vector<std::string>& line) const;
};

// The record's lines without the header (and without empty lines); lines
// with fewer fields are padded to kChangeColumns. A missing file is an empty
// record. False with error when the file exists but cannot be read.
bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error);

}  // namespace records
