#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "unit/Unit.h"

// The language text that tells of a job ended because every answer from its
// address had more bytes behind it (unit.GetLastFailure() is
// TransactFailure::SecondAnswer); "%d" is the address.
constexpr int kTextSecondAnswers = 91;

// How a job ended. The numbers are those the dialogs' finished messages
// carry.
enum class JobResult { Done = 0, Stopped = 1, CommError = 2 };

// What the user-interface thread did with one change-list entry of a send
// (the send worker asks for each in turn).
enum class EntryResult
{
    EndsList = 0,  // the list of the grid has ended
    Handled = 1,   // the entry was exchanged and answered
    NoAnswer = 2,  // it was exchanged, but the unit gave no answer
    Stops = 3,     // nothing more may be sent (the change record took no line)
};

// How a job reports progress and learns of a stop request. The window's
// dialogs implement it with their messages; the CLI with nothing.
class IJobProgress
{
public:
    virtual ~IJobProgress() = default;
    virtual void SetRange(int total) = 0;
    virtual void SetPosition(int position) = 0;
    virtual bool StopRequested() = 0;
};

// How the scan reports what it finds.
class IScanObserver
{
public:
    virtual ~IScanObserver() = default;
    // The unit record's address is being polled (true) or done (false).
    virtual void Polling(bool bPolling) = 0;
    virtual void Found(int16_t address, int16_t azNumber, const std::string& type) = 0;
    virtual bool StopRequested() = 0;
};

// Polls addresses 1..30 with the link open. Returns JobResult::Stopped or JobResult::Done.
JobResult RunScan(CUnit& unit, IScanObserver& observer);

// How often a job asks its values again after a line fault (see
// CUnit::Transact) before it gives up with a communication error.
constexpr int kReceivePasses = 3;

// Receives the unit at the record's address with the link open: the
// identification (the type name included), every global parameter, then the
// rows actual, set, P01..Pn in bulk. JobResult::CommError when the AZ number,
// the zone count or the zone parameter count gets no usable answer, another
// identification is answered but never whole, or a global parameter or row
// fails. The values count only when no line fault was seen from the first
// request to the watch behind the last answer: after a fault the line is
// quiet and the receive starts again, at most kReceivePasses times in all;
// then it ends with JobResult::CommError and the record's last failure that
// of the request that failed last, or TransactFailure::SecondAnswer. It never ends done with a value another
// answer put in place of the unit's.
JobResult RunReceive(CUnit& unit, IJobProgress& progress);

// How many polls the wait after "XSTD=" makes at most: a failed poll costs
// the 100 ms pause and three read time-outs, so this keeps the wait near a
// minute. A negative time-out counts as 0.
int WaitPollLimit(int timeoutMs);

// Waits with the link open until the unit at the record's address answers
// again after loading its standard parameters: pauses 100 ms, polls the AZ
// number, and reports the polls made as the position in 0..WaitPollLimit.
// Ends when the unit answers, the limit is reached or maxWaitMs has passed
// (JobResult::Done), or when progress asks to stop (JobResult::Stopped); the pause is cut
// short by a stop request. Without an open link the record answers from its
// memory, which ends the wait at the first poll.
JobResult RunWaitForUnit(CUnit& unit, IJobProgress& progress, int maxWaitMs = 60000);

// The values one field of a telegram carries for a unit of this value width:
// width 4 takes -999..9999, any other width (5, and 0 while it is not yet
// learned, which sends five digits) -9999..99999. In hexadecimal numbering
// (zone commands of units with 100 zones or more) the unit answers with as
// many hexadecimal digits as its width, read back as a two's complement
// number: -0x8000..0x7FFF or -0x80000..0x7FFFF round-trip (a negative value
// goes out as eight digits), anything beyond would read back as another.
struct ValueRange
{
    int32_t nMin = 0;
    int32_t nMax = 0;
    bool Contains(int32_t value) const { return value >= nMin && value <= nMax; }
};
ValueRange ValueRangeOfWidth(int valueWidth, bool bHex);

// One value to send and read back.
struct SendItem
{
    enum class Kind { Global, ZoneParam, SetValue };
    Kind kind = Kind::Global;
    int16_t index = 0;  // global parameter number, or zone parameter number
    int16_t zone = 0;   // zone number (zone parameters and set values)
    int32_t value = 0;
};

struct SendOutcome
{
    SendItem item;
    WriteResult code = WriteResult::Acknowledged;
    int32_t readBack = -1; // the value read back after the write
    bool bDiffers = false; // readBack differs from the value sent
    bool bWriteAnswered = true; // the write drew an answer (ACK or NAK); false: silence or nothing usable
};

// Writes one item and reads it back, with the link open. A read-back during
// which the line misbehaved is asked again on the quiet line; one that
// cannot be had on a well-behaved line is -1 (differs).
SendOutcome SendOne(CUnit& unit, const SendItem& item);

// Sends items in order, each with its read-back, testing progress for a stop
// after each. Outcomes of the items sent are appended to outcomes and, as
// each is known, given to onOutcome when there is one.
JobResult RunSend(CUnit& unit, const std::vector<SendItem>& items, IJobProgress& progress,
            std::vector<SendOutcome>& outcomes,
            const std::function<void(const SendOutcome&)>& onOutcome = {});

// The values of the record that a recipe can change, taken with the link
// closed, for comparing before and after a ReadRecipe.
struct UnitValues
{
    std::vector<int32_t> globals;                        // 1..N at [0..N-1]
    std::vector<int32_t> setValues;                      // zones 1..Z
    std::vector<std::vector<int32_t>> zoneParams;        // [zone-1][p-1]
};
UnitValues CaptureValues(CUnit& unit);

// The items whose value in the record differs from before, in the order a
// recipe open lists them: globals (never one whose new value is -1), zone
// parameters zone by zone, then set values. Zones and parameters are those of
// the record's counts.
std::vector<SendItem> ChangedItems(const UnitValues& before, CUnit& unit);

namespace platform {
class AutoResetEvent;
}
// The two process-wide stop signals: Cancel of the scan dialog, and Cancel
// of the progress dialog of a receive or send.
platform::AutoResetEvent& ScanStopEvent();
platform::AutoResetEvent& TransferStopEvent();
