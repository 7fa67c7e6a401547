#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "records/ChangeRecord.h"

class CUnit;

// log, diff and export: the commands that read the change record and compare
// or convert recipes.
bool IsRecordsCommand(const std::string& command);

// Runs one of them with its operands (everything after the command word).
// receiveUnit receives the unit at an address into the program's record and
// returns a CliStatus (diff --unit). Returns the exit status.
int RunRecordsCommand(const std::string& command, const std::vector<std::string>& operands, std::ostream& out,
                      std::ostream& err, const std::function<int(int16_t address)>& receiveUnit);

// The send's change record: Begin before anything is sent, Sending before
// each value goes out, Append for each outcome as it is known, End after the
// job. Begin and End say what went wrong on err themselves.
class CliSendRecord
{
public:
    CliSendRecord(bool bNoRecord, std::ostream& err) : m_bNoRecord(bNoRecord), m_err(err) {}
    // False when the record cannot be appended to (and --no-record was not
    // given): nothing may be sent. Tells of a torn last line it cut off.
    bool Begin(CUnit& unit, const std::string& device, const UnitValues& held);
    // False when the item's line could not be written: it must not be sent.
    bool Sending(const CUnit& unit, const SendItem& item);
    // False when the outcome's line could not be written: nothing more may
    // be sent.
    bool Append(const CUnit& unit, const SendOutcome& outcome);
    // sent of total values went out. False when a line could not be written.
    bool End(std::size_t sent, std::size_t total);

private:
    bool m_bNoRecord;
    bool m_bOutcomeLost = false;
    bool m_bLineLost = false;
    std::ostream& m_err;
    records::CSendRecorder m_recorder;
};
