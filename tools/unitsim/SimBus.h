#pragma once

// A simulated bus of controller units. Standard library only: no Qt, no
// vorlent_core (the simulator must not share the code it tests).

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace unitsim {

// Which request a unit answers to tell its zone parameter count. The other
// two count requests get no answer at all, so a program falls through them
// after its retries.
enum class CountQuery { Pan, PalMin, K01Min, None };

struct SimGlobal
{
    std::string command;  // without "=", e.g. "TMAX"
    int32_t value = 0;
    int32_t minVal = -32768;  // a write outside minVal..maxVal is answered with NAK
    int32_t maxVal = 32767;
};

struct SimUnitConfig
{
    int address = 1;  // 1..30
    int azNumber = 0;
    std::string type;
    int32_t eprom = 0;
    int32_t version = 0;
    std::string revDate;
    int zones = 1;           // 1..128; 100 or more: zone commands in hexadecimal
    int zoneParamCount = 0;  // 0..64 (P01..Pn)
    CountQuery countQuery = CountQuery::Pan;
    int valueWidth = 4;      // 4 or 5
    std::vector<SimGlobal> globals;
    // Empty vectors are filled with plausible values by the bus.
    std::vector<int32_t> setValues;                // [zone-1]
    std::vector<int32_t> actualValues;             // [zone-1]
    std::vector<std::vector<int32_t>> zoneParams;  // [p-1][zone-1]
    // Values after "XSTD=" (empty: the values at start).
    std::vector<int32_t> standardSetValues;
    // "XSTD=": the unit is silent for this long, then comes back with its
    // standard values; a unit whose type contains "TORVA" comes back at
    // address 1.
    double restartSeconds = 0.0;
    // Actual values that move, for a live picture: while heatSeconds > 0 each
    // zone heats from its actual value toward its set value along a
    // first-order curve with that time constant (63 % of the way after
    // heatSeconds), measured with heatNoise units of noise either way.
    // coldZones (1-based) have a broken heater: they stay where they started,
    // noise and all. 0, the default, keeps every actual value as it is, so a
    // test's unit answers the same every time.
    double heatSeconds = 0.0;
    int heatNoise = 0;
    std::vector<int> coldZones;
};

enum class FaultKind
{
    Silence,      // no answer
    Noise,        // stray bytes before the answer
    BadChecksum,  // a wrong checksum
    LowerCase,    // checksum digits in lower case
    Nak,          // NAK instead of the answer
    Delay,        // the answer after delayMs
    Disconnect,   // the line goes away (as an unplugged adapter)
    // What a field bus does to an answer that still carries a right checksum
    // or none at all:
    OtherAddress,  // the answer carries the address otherAddress instead
    SecondAnswer,  // a second answer follows the first (two units at one address, an echo)
    Insert,        // the bytes of noise inserted at offset into the answer
    ValuesShort,   // a value answer one value (of the unit's width) short
    ValuesLong,    // a value answer one value long
    Reset,         // the unit resets: silent for delayMs, then back with zones zones
    // A second unit at the same address, with the same memory, that answers
    // the matching requests too: delayMs after the first unit's answer has
    // ended (or after its own earlier answer), with the answer the unit
    // gives, before any other fault changed it.
    Twin,
};

// A fault applies to requests whose text (the telegram without frame: what
// follows the address, without checksum and ETX) contains pattern (empty: all
// requests). times: how many matching requests it hits, -1 every one; skip:
// how many matching requests it passes over first (so that the read-back
// "K05P03=" can be hit after the write "K05P03=0250"). For Disconnect,
// afterRequests counts all requests seen before the line goes (skip is not
// used).
//
// Delay holds the answer back: the unit answers requests one after the
// other, so the requests that come meanwhile (a program's retries) are each
// answered in turn after it, each with its own delay when the fault hits it
// too. Every late answer is put on the line, however late.
//
// Only requests that reach a unit (checksum right, a unit at the address and
// not restarting) use up a fault, except Disconnect, which counts every
// telegram on the line: the first matching request after afterRequests
// telegrams gets no answer, and the line goes away instead.
// Silence and Nak stop the request from reaching the unit (a write is not
// applied). BadChecksum and LowerCase only change answers that carry a
// checksum (not ACK or NAK), and LowerCase only shows when that checksum has
// a digit A..F: pick the request so that it does (see Checksum()). Several
// faults may hit one request; their delays add up.
struct SimFault
{
    FaultKind kind = FaultKind::Silence;
    std::string pattern;
    int times = -1;
    int delayMs = 0;
    int afterRequests = 0;
    std::string noise = "\x55\xAA";
    int address = 0;  // only requests to this address; 0: any
    int skip = 0;
    int otherAddress = 7;  // OtherAddress: the address the answer carries
    // Insert: where in the answer the noise goes, counted from the start
    // letter (4: the first character of the value). Insert and SecondAnswer
    // change ACK and NAK answers too.
    int offset = 4;
    int zones = 6;  // Reset: the zone count the unit comes back with
    int width = 0;  // Reset: the value width it comes back with (0: its own)
};

// Random byte noise on the answers, as a field bus with a bad cable gives:
// each answer byte starts a noise event with probability rate; an event
// replaces, inserts or drops (one of the three at random) a run of 1..burst
// bytes. The same seed gives the same noise for the same traffic.
struct SimNoise
{
    double rate = 0.0;
    unsigned seed = 1;
    int burst = 1;
};

// One parsed request, for tests that look at the traffic.
struct SimRequest
{
    bool bHex = false;
    int address = 0;   // -1 when the address characters are not a number
    std::string text;  // the request text, e.g. "K05P03=0250"
    bool bChecksumOk = false;
};

class SimBus
{
public:
    SimBus() = default;

    // Adds a unit; counts are clamped to their ranges (zones 1..128, zone
    // parameters 0..64, width 4 or 5) and missing values filled in. Its
    // values now are also its standard values (see standardSetValues).
    void AddUnit(SimUnitConfig unit);
    void AddFault(const SimFault& fault);
    void ClearFaults();
    void SetNoise(const SimNoise& noise);
    // Noise events so far (each a run of bytes replaced, inserted or dropped).
    long NoiseEvents() const;

    // One telegram in (as read from the line, ETX included), the bytes to put
    // on the line out (empty: silence), and how long to wait before them.
    struct Reply
    {
        std::string bytes;
        int delayMs = 0;
        bool bDisconnect = false;
        // A twin's answer (FaultKind::Twin), due twinDelayMs after the end
        // of bytes; empty: no twin answers.
        std::string twinBytes;
        int twinDelayMs = 0;
    };
    Reply Handle(const std::string& telegram);

    // The unit's current state; null when no unit answers there. The pointer
    // stays valid while the bus lives; lock Mutex() while the server runs.
    // A unit that is restarting is found at the address it will answer at.
    SimUnitConfig* UnitAt(int address);
    // Requests(), ClearRequests(), AddUnit() and the fault calls lock Mutex()
    // themselves: do not call them while holding it.
    std::vector<SimRequest> Requests() const;
    void ClearRequests();
    std::mutex& Mutex() const { return m_mutex; }

    // Called for every telegram that Handle() parses, on the thread that
    // calls Handle(), with Mutex() held (so it must not call back into the
    // bus). Empty: nobody is told.
    void SetRequestObserver(std::function<void(const SimRequest&)> observer);

    // The protocol's checksum: the byte sum modulo 256.
    static uint8_t Checksum(const std::string& bytes);

private:
    bool IsRestarting(std::size_t unit, std::chrono::steady_clock::time_point now);
    // Brings the unit's moving actual values up to now.
    void Heat(std::size_t unit, std::chrono::steady_clock::time_point now);
    std::string AddNoise(const std::string& bytes);
    void LoadStandardValues(std::size_t unit);

    mutable std::mutex m_mutex;
    // A deque, so that the pointers UnitAt() hands out survive AddUnit().
    std::deque<SimUnitConfig> m_units;
    std::deque<SimUnitConfig> m_standard;  // [unit]: the values "XSTD=" brings back
    // [unit]: the temperatures behind moving actual values, unrounded, and
    // when they were last brought up to date.
    struct Heating
    {
        std::vector<double> temperatures;
        std::chrono::steady_clock::time_point last{};
        uint32_t noiseState = 1;
    };
    std::deque<Heating> m_heating;
    std::vector<SimFault> m_faults;        // times counts down as faults are used
    std::vector<SimRequest> m_requests;
    SimNoise m_noise;
    std::mt19937 m_random{1};
    long m_nNoiseEvents = 0;
    long m_nTelegrams = 0;  // every telegram so far, for Disconnect
    std::function<void(const SimRequest&)> m_observer;
    // Pending restarts after "XSTD=".
    struct Restart
    {
        std::size_t unit;
        std::chrono::steady_clock::time_point until;
    };
    std::vector<Restart> m_restarts;
};

}  // namespace unitsim
