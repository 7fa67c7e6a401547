#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AppendFile.h"
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
// The same from CONFIG.INI and the environment; without a configured one,
// changes.csv in platform::DefaultUserDataDirectory() (on Windows
// %LOCALAPPDATA%\Vorlent).
std::string ChangeRecordPath();

// "Global 07", "Zone05 P03", "Zone05 P00" (the set value); zones as the
// recipe numbers them, so zone 100 is "Zone100".
std::string WhereOf(const SendItem& item);

// The outcome column for what the send job reported: ok, differs, nak (the
// unit refused the write), no-answer (the write drew no answer: silence or
// nothing usable) or refused (outside the limits, not sent).
const char* OutcomeName(const SendOutcome& outcome);
// The outcome of the line that goes out before a write: the value may have
// reached the unit, nobody knows yet. Its final line follows with the same
// time, user, host, device, address, place and value; a record read back
// shows the final line alone, and an unconfirmed line only where none came
// (the program ended between the write and its answer).
extern const char* const kUnconfirmed;

// Whether a column holds text (guarded for spreadsheets, see
// platform::SpreadsheetText) rather than a number or a time.
bool IsTextColumn(int column);
// The record line of these kChangeColumns fields, text columns guarded, with
// the line ends a description might carry turned into blanks, so that every
// record line is one line of the file.
std::string ChangeLine(std::vector<std::string> fields);

// The file, opened for appending whole lines (platform::CAppendFile).
class CChangeFile
{
public:
    // Creates the missing folders (mode 0700) and opens path for appending;
    // an empty file gets the header line first. False with Error() when the
    // file cannot be appended to: no path, a folder, a read-only file or
    // folder (by its mode bits, which hold for root too), a file whose first
    // line is not the record's header (IsForeign()), a failed header write.
    // A last line without its line end (a crash or a full disk left it) is
    // cut off first: Repaired() holds what was cut.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_file.IsOpen(); }
    bool IsForeign() const { return m_bForeign; }
    const std::string& Repaired() const { return m_strRepaired; }
    // One whole line (its line end included), or nothing of it. False with
    // Error() when it is not in the file.
    bool Append(const std::string& line);
    // fsync and close. False when an Append or the fsync failed; Error()
    // says the first failure.
    bool Close();
    const std::string& Error() const { return m_strError; }

private:
    void Fail(const std::string& what);
    platform::CAppendFile m_file;
    bool m_bFailed = false;
    bool m_bForeign = false;
    std::string m_strRepaired;
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

// One send job's recording: opened before the first value goes out, a line
// before each write and one with each outcome, fsync at the end. It also
// keeps what the tool held of the unit before each edit (the last receive,
// then every answered read-back), which the window keeps across sends.
//
// Writes that come from elsewhere (a broker) use the same object: Begin with
// their user ("mqtt:<login>"), Sending before each write, Record after it.
class CSendRecorder
{
public:
    // What the tool holds of the unit; replaced at every receive.
    void SetHeld(const UnitValues& held) { m_held = held; }

    // Opens the record at path for this unit; user empty: the login name.
    // False with Error() when it cannot be appended to (nothing should be
    // sent then, unless the user chooses to send without a record:
    // SkipRecord()). Repaired() tells of a fragment cut off the record.
    bool Begin(const std::string& path, const RecordedUnit& unit, const std::string& user = {});
    // Records nothing for this job, but still follows the held values.
    void SkipRecord(const RecordedUnit& unit);
    const std::string& Repaired() const { return m_file.Repaired(); }
    bool IsForeign() const { return m_file.IsForeign(); }
    // The unconfirmed line for an item about to be written. False with
    // Error() when it could not be written: the item must not be sent. True
    // without a record.
    bool Sending(const CUnit& unit, const SendItem& item);
    // The line for one outcome (name: the global parameter's description in
    // the active language, empty for zone values), appended; then the held
    // value follows the unit's answer. False with Error() when the line could
    // not be written: nothing more should be sent. True without a record.
    bool Record(const CUnit& unit, const SendOutcome& outcome);
    // Ends the job: fsync and close. False with Error() when a line could not
    // be written; true for a job without a record.
    bool End();
    const std::string& Error() const { return m_strError; }
    const std::string& Path() const { return m_strPath; }

    // The record line of one outcome at time, without writing it.
    std::string Line(const CUnit& unit, const SendOutcome& outcome, const std::string& time) const;

private:
    std::string LineOf(const CUnit& unit, const SendItem& item, const std::string& readBack, const char* outcome,
                       const std::string& time) const;
    std::optional<int32_t> HeldValue(const SendItem& item) const;
    void FollowAnswer(const SendOutcome& outcome);

    UnitValues m_held;
    RecordedUnit m_unit;
    CChangeFile m_file;
    std::string m_strPath;
    std::string m_strError;
    std::string m_strUser;
    std::string m_strHost;
    std::string m_strSendingTime;  // of the unconfirmed line not yet followed by its outcome
};

// Milliseconds since 1970 of "YYYY-MM-DD[THH:MM[:SS[.fff]]][Z|+HH:MM|-HH:MM]"
// (a blank may stand for the T); without an offset the time is local.
// Nullopt for anything else, a day the month does not have included.
std::optional<int64_t> ParseIsoTime(const std::string& text);

// Which record lines to show: -1 / nullopt for no condition.
struct ChangeFilter
{
    int azNumber = -1;
    int address = -1;
    std::optional<int64_t> sinceMs;
    bool Matches(const std::vector<std::string>& line) const;
};

// How a record read went, beyond its lines.
struct ChangeReadNotes
{
    int nDamaged = 0;       // lines that are no record line, skipped
    bool bForeign = false;  // the file's first line is not the record's header: nothing read
};

// The record's lines without the header, each of kChangeColumns fields, text
// columns as they were given (the spreadsheet guard removed), unconfirmed
// lines whose outcome followed left out. A line that is not a record line
// (a torn or damaged one, another file's) is skipped and counted. A missing
// or empty file is an empty record. False with error when the file exists
// but cannot be read, or is not a change record (notes.bForeign).
bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error,
                      ChangeReadNotes& notes);
bool ReadChangeRecord(const std::string& path, std::vector<std::vector<std::string>>& lines, std::string& error);
// The same for the record's text.
std::vector<std::vector<std::string>> ParseChangeRecord(std::string_view text, ChangeReadNotes& notes);

}  // namespace records
