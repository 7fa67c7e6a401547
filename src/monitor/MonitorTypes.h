#pragma once

// The plain data a monitor passes around: what is watched, what one poll of
// a unit brought, and how the line is doing. No Qt, no locks.

#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

// A value the unit did not give (silent, a row that failed, a zone it does
// not have). Never a value a unit can send: the widest field is five digits.
constexpr int32_t kNoValue = INT32_MIN;

// One unit to watch. A zone count or width of 0 is learned from the unit at
// the start ("?KAN=" and the value width of its "?AZ#=" answer); a unit that
// does not answer then is asked again each cycle until it does.
struct MonitorUnit
{
    int16_t nAddress = 0;    // 1..30
    int32_t nZoneCount = 0;  // 1..128, 0: ask the unit
    int16_t nValueWidth = 0; // 4 or 5, 0: learn it from the unit
};

// The line to open: the settings of the window's or the CLI's unit record,
// copied, so that the monitor's own unit record never changes theirs.
struct MonitorLine
{
    int16_t nPort = 1;       // COM1..COM15, mapped to a device path
    int32_t nBaudrate = 9600;
    uint8_t nParity = 0;     // codes as CComPort::Open
    uint8_t nDataBits = 8;
    uint8_t nStopBits = 0;
    int16_t nTimeout = 200;  // ms per answer byte (plus 20 ms)
    // A device path that replaces the port mapping (--device, a name under
    // /dev/serial/by-id, a test's pseudo-terminal); empty: use nPort. After
    // the device went away the same path is opened again, so a by-id name or
    // a symbolic link finds the adapter wherever it comes back.
    std::string strDevice;
    // [COM_PORT] CheckAnswerAddress: whether answers must carry the address.
    bool bCheckAnswerAddress = true;
};

// One unit in one cycle. Rows are decimal values of the unit's width,
// [zone-1]; a row is empty when its telegram brought no usable answer. A
// silent unit gives a sample with both rows empty (never the previous values
// again).
struct MonitorSample
{
    int16_t nAddress = 0;
    long long nCycle = 0;  // 1 for the first cycle
    // When the actual-value request went out: the moment the values describe.
    std::chrono::system_clock::time_point tWall{};
    std::vector<int32_t> actual;  // "KALPII=", zone count values or empty
    std::vector<int32_t> set;     // "KALP00=", zone count values or empty
    bool Answered() const { return !actual.empty() || !set.empty(); }
};

// What the job counts for one unit since its start. A poll is one request
// to the unit: its identification while it is not yet known, then two rows
// a cycle (the set row is not asked when the actual row got no answer).
struct MonitorStats
{
    int16_t nAddress = 0;
    int32_t nZoneCount = 0;       // 0 while not yet known
    long long nPolls = 0;         // requests (first tries)
    long long nAnswered = 0;      // of those, with a usable answer
    long long nRetried = 0;       // of the answered, those that needed more than one try
    long long nNoAnswer = 0;      // of those, without a usable answer
    long long nLateDiscarded = 0; // times late or stray answers were thrown away
    // Time of the unit's part of a cycle (its telegrams, retries included),
    // in ms: the last one, and the mean over all its cycles; -1 before the
    // first.
    double dLastCycleMs = -1.0;
    double dMeanCycleMs = -1.0;
};

// The state of the link as the job sees it.
enum class MonitorLink
{
    Open,  // the device is open and polled
    Gone,  // the device went away; the job opens the same path every 2 s
};
