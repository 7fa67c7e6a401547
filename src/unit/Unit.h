#pragma once

#include <cstdint>
#include <climits>
#include <string>
#include <vector>

#include "unit/ComPort.h"
#include "unit/GlobalParamDef.h"

// Table limits of the record.
constexpr int kMaxZones = 128;
constexpr int kMaxZoneParams = 64;
constexpr int kMaxGlobalParams = 63;  // 64 slots, one ends the list

// How a parameter write ended; the numbers are the write operations' 8-bit
// codes.
enum class WriteResult : uint8_t
{
    Acknowledged = 0,     // sent, and the answer holds ACK: the value is stored
    LinkClosed = 1,       // not sent: the value is only stored
    NotAcknowledged = 2,  // sent, no ACK (NAK, silence, anything else): not stored
    Refused = 3,          // global parameters only: outside their limits, nothing sent
};

enum class TraceOutcome;

// What an answer's value field must hold for a try to count, besides its
// frame, address and checksum: an answer is believed only when it is
// whole. Any: anything but an ACK or NAK byte. Text: printable ASCII (a
// type name, a date). Number: one value in the
// unit's width (4 or 5 characters while the width is still to be learned):
// decimal digits after an optional leading minus, or hexadecimal digits in
// hexadecimal numbering (the width's digits, or eight: a 32-bit two's
// complement, as units of 100 zones or more send a negative value), within
// nMin..nMax. Values: nMin..nMax decimal
// values of the unit's width, one after the other (a row: exactly the zone
// count). A short ACK or NAK counts for every shape; the callers judge it.
struct AnswerShape
{
    enum class Kind { Any, Text, Number, Values };
    Kind kind = Kind::Any;
    int32_t nMin = INT32_MIN;
    int32_t nMax = INT32_MAX;

    static AnswerShape Number(int32_t low = INT32_MIN, int32_t high = INT32_MAX)
    {
        return {Kind::Number, low, high};
    }
    static AnswerShape Values(int32_t low, int32_t high) { return {Kind::Values, low, high}; }
    static AnswerShape Text() { return {Kind::Text, 0, 0}; }
};

// Why the last Transact came back empty.
enum class TransactFailure
{
    None,          // it did not: an answer came
    NoAnswer,      // not a byte in three tries: nobody answers this request
    BadAnswer,     // bytes came, but no answer that counts (noise, a broken answer)
    SecondAnswer,  // every try's answer was followed by more bytes: more than one
                   // unit may answer at this address
    OtherAddress,  // every try was answered from another address
};

// The picture of the one selected unit and, at the same time, the protocol end
// point that talks to it.
//
// Two modes, chosen by m_bPortOpen: with the link open every getter asks the
// unit and stores the answer, every setter sends and stores only what the unit
// acknowledged; with the link closed the getters return the stored value and
// the setters only store. One thread at a time; no lock.
//
// Numbering: zones 1..128, zone parameters 1..64 (0 = the set value where a
// command says so), global parameters 1..GetGlobalParamCount(). Callers keep
// indices within the counts; the record refuses (returns -1 / code 2, stores
// nothing) indices outside its tables rather than touch foreign memory.
class CUnit
{
public:
    CUnit();
    CUnit(const CUnit&) = delete;
    CUnit& operator=(const CUnit&) = delete;
    ~CUnit();

    // --- Link ---------------------------------------------------------------
    // Opens m_Port with the record's settings; on failure the record stays in
    // the closed mode.
    bool OpenPort();
    void ClosePort();
    bool IsPortOpen() const { return m_bPortOpen; }
    CComPort& GetComPort() { return m_Port; }
    // The record works with the link closed (getters return, setters only
    // store) while the port and its lock stay held: the CLI's send between
    // its receive and its writes, so that no other program takes the port
    // in that gap (one job). ResumeLink goes back to the open mode; false
    // when the port is not open.
    void PauseLink() { m_bPortOpen = false; }
    bool ResumeLink() { return m_bPortOpen = m_Port.IsOpen(); }

    // --- Telegram layer -------------------------------------------------------
    // One request and its answer, up to three tries. Empty when address is 0
    // or no usable answer came. The answer has noise before the start letter
    // removed and ends with ETX.
    //
    // Late answers: a unit that answers later than a try waits (t + 20 ms)
    // still answers every try, one after the other, one unit latency apart.
    // So when a Transact needed more than one try and the line carried
    // anything meanwhile, it lets the line go quiet (LateAnswerQuietMs without
    // a byte) before it returns, throwing away the answers still owed. For a
    // unit up to 3 x (t + 20) ms late that is all of them: its answer to the
    // first try begins within the third try's wait at the latest (so the line
    // did carry something), and each owed answer follows the one before by
    // less than the quiet period. A request that got no byte at all in three
    // tries (an empty address, a count request the unit does not know) owes
    // nothing within that bound and costs nothing more; neither does a
    // request answered at the first try.
    //
    // A try counts only for a whole answer: the request's start
    // letter and address characters (unless the address check is off), the
    // checksum, a value field of the given shape, no ACK or NAK byte inside
    // it (those count only as a short acknowledgement: the byte alone, or
    // after at most the start letter and three characters, then ETX; their
    // address characters may also be the address in decimal), and no byte
    // after its ETX within the turnaround.
    //
    // Line faults. One request, one answer: a second unit at the address, an
    // echo or a late unit puts more answers on the line than requests, and
    // such an answer can be taken for the answer to a later request, whose
    // own answer then follows it. The rule that catches every such answer,
    // at any baud rate: every byte on the line is either taken as the one
    // answer of the exchange it arrived in, or seen as a line fault. The
    // span from an answer's ETX until the next request has left the wire is
    // watched whole: right behind the answer (BytesFollowAnswer), before the
    // next request (bytes waiting there), while it is on the wire (a byte
    // that arrives before our request has left the wire cannot belong to its
    // answer: CComPort::Read keeps it out), and behind the last exchange of a
    // job or cycle (WatchLine). A wrong answer taken after the request left
    // the wire pushes the right one behind it, so the surplus shows in one of
    // these watches, in the same exchange or a later one; all are spans of
    // wire time plus fixed margins, so none depends on the rate. A try that
    // saw a fault counts one in GetLineFaults(), and the line is let go
    // quiet (LateAnswerQuietMs)
    // before anything more is sent: after that nothing owed from before can
    // arrive. A caller holding values taken since its last quiet line must
    // treat them as suspect when the count moved, and ask them again.
    std::string Transact(const std::string& request, bool bHex, const AnswerShape& shape = {});
    TransactFailure GetLastFailure() const { return m_eLastFailure; }
    // Sets the reason a job gives for its end (a job that gave up on a line
    // that never fell quiet says SecondAnswer).
    void SetLastFailure(TransactFailure failure) { m_eLastFailure = failure; }
    // Whether a try of the last Transact got no byte at all: a unit that
    // answered after that may have restarted meanwhile.
    bool LastTransactHadSilence() const { return m_bLastSilentTry; }
    // Line faults since construction (see Transact).
    long long GetLineFaults() const { return m_nLineFaults; }
    // Tries answered from another address since construction.
    long long GetOtherAddressAnswers() const { return m_nOtherAddressAnswers; }
    // The watch behind the last exchange of a job or a cycle, before its
    // values count: true when the line stayed quiet; false (a line fault,
    // counted, and the line let go quiet) when bytes followed.
    bool WatchLine();
    // Before the first request of a job or a cycle: bytes that came since the
    // last watch (a late answer to what went before) are a line fault of what
    // went before; the line is let go quiet (false) so that this one starts
    // on a line that owes nothing. True when nothing had come.
    bool SettleLine();
    // [COM_PORT] CheckAnswerAddress: whether an answer must carry the
    // request's address (default). Off, the address characters are not
    // looked at: for units that put something else there.
    void SetCheckAnswerAddress(bool bCheck) { m_bCheckAnswerAddress = bCheck; }
    bool GetCheckAnswerAddress() const { return m_bCheckAnswerAddress; }
    // Whether the value field of a checked answer has the shape, in this
    // numbering and the record's width (4 or 5 while it is 0).
    bool AnswerFits(const std::string& answer, bool bHex, const AnswerShape& shape) const;
    // 3 x (t + 20) ms: three tries' worth of waiting.
    int LateAnswerQuietMs() const;
    static uint8_t Checksum(const std::string& text);
    // Accepts an answer of at least 7 characters whose two characters before
    // the last are the upper-case hexadecimal checksum of everything before.
    static bool CheckAnswer(const std::string& answer);
    // The value field (positions 4 .. L-4), trailing white space removed;
    // empty when the answer is rejected.
    static std::string AnswerText(const std::string& answer);
    // The first value of the field; -1 when the answer is rejected. Learns
    // the value width (11 characters: 4, else 5) while it is 0. Decimal: the
    // usual conversion of the width's characters. Hexadecimal: two's
    // complement, eight digits as 32 bits, else the width's digits
    // sign-extended from their top bit (FFFF4 in width 5 is -12).
    int32_t AnswerNumber(const std::string& answer, bool bHex);
    // Decimal values of the field into destination[0..]: exactly one value
    // per zone of the record's zone count (1..kMaxZones) in its width (4 or
    // 5). False (nothing stored) when the answer is rejected or is not such
    // a row.
    bool AnswerValueList(const std::string& answer, int32_t* destination);

    // --- Identification -------------------------------------------------------
    int16_t QueryAZNumber();
    std::string QueryType();
    int32_t QueryEpromNumber();
    int32_t QueryVersion();
    std::string QueryRevDate();
    int32_t QueryZoneCount();
    // The count from "?PAN=", else "PALMIN=", else "K01MIN=", else the
    // default; -1 (the stored count unchanged) when the unit answered one of
    // them, but never whole: then the count is not known.
    int32_t QueryZoneParamCount();

    // --- Parameters -----------------------------------------------------------
    bool ReadGlobalParams();
    int32_t ReadGlobalParam(int16_t i);
    WriteResult WriteGlobalParam(int16_t i, int32_t value);
    int32_t ReadZoneParam(int16_t zone, int16_t p);
    WriteResult WriteZoneParam(int16_t zone, int16_t p, int32_t value);
    int32_t ReadSetValue(int16_t zone);
    WriteResult WriteSetValue(int16_t zone, int32_t value);
    int32_t ReadActualValue(int16_t zone);
    // Row -1: all actual values, 0: all set values, p: zone parameter p.
    bool ReadParamRow(int16_t row);
    bool LoadStandardParams();

    // --- Settings (definitions and CONFIG.INI) -------------------------------
    // Loads the catalogue from GLOBAL.INI and the line settings and default
    // zone parameter count from CONFIG.INI. bWriteSettings false leaves
    // CONFIG.INI untouched (the CLI writes none of the program's files).
    void LoadDefinitions(bool bWriteSettings = true);
    // Description of global parameter n in the active language; for n below 1
    // (or beyond the catalogue) text stays unchanged.
    void GetParamDescription(int n, std::string& text) const;
    int16_t GetParamMin(int n) const;
    int16_t GetParamMax(int n) const;
    // Fills the catalogue directly (definitions loader, tests).
    void SetGlobalParams(std::vector<GlobalParamDef> params);
    bool HasDefinitions() const { return m_bDefinitionsLoaded; }
    // The catalogue record of global parameter n (1-based); null outside it.
    GlobalParamDef* GetGlobalParamDef(int n);
    const GlobalParamDef* GetGlobalParamDef(int n) const;

    // --- State setters (always effective) ------------------------------------
    void SetAddress(int16_t address);
    void SetOffline(bool offline);
    void SetInterface(int16_t port, int32_t baudrate);
    void SetComment(const std::string& text) { m_strComment = text; }
    void ResetZoneCounts();
    // Line settings normally taken from CONFIG.INI by LoadDefinitions.
    void SetLineSettings(uint8_t parity, uint8_t dataBits, uint8_t stopBits, int16_t timeout);
    void SetDefaultZoneParamCount(int32_t count);

    // --- Recipe setters (only while offline) ---------------------------------
    void SetAZNumber(int16_t n);
    void SetType(const std::string& type);
    void SetEpromNumber(int32_t n);
    void SetVersion(int32_t n);
    void SetRevDate(const std::string& date);
    void SetZoneCount(int32_t n);
    void SetZoneParamCount(int32_t n);
    void SetValueWidth(int16_t width);
    void SetActualValue(int16_t zone, int32_t value);

    // --- Plain getters ---------------------------------------------------------
    // The values the last row reads stored, without asking the unit; -1 for a
    // zone outside 1..128.
    int32_t GetStoredActualValue(int16_t zone) const { return ZoneInRange(zone) ? m_aActualValue[zone - 1] : -1; }
    int32_t GetStoredSetValue(int16_t zone) const { return ZoneInRange(zone) ? m_aSetValue[zone - 1] : -1; }
    int16_t GetAddress() const { return m_nAddress; }
    bool IsOffline() const { return m_bOffline; }
    int16_t GetValueWidth() const { return m_nValueWidth; }
    int16_t GetTimeout() const { return m_nTimeout; }
    const std::string& GetComment() const { return m_strComment; }
    int32_t GetGlobalParamCount() const { return m_nGlobalParamCount; }
    int16_t GetPort() const { return m_nPort; }
    int32_t GetBaudrate() const { return m_nBaudrate; }
    uint8_t GetParity() const { return m_nParity; }
    uint8_t GetDataBits() const { return m_nDataBits; }
    uint8_t GetStopBits() const { return m_nStopBits; }
    int32_t GetDefaultZoneParamCount() const { return m_nDefaultZoneParamCount; }

private:
    // The trace's judgement of one try's answer (noise before the start
    // letter already dropped): Answer, Ack or Nak when it counts.
    TraceOutcome JudgeAnswer(const std::string& answer, const std::string& head, bool bHex,
                             const AnswerShape& shape) const;
    // A line fault seen in a try: counted, traced with what the line
    // carried, and the line let go quiet.
    void LineFault(const std::string& request, const std::string& bytes);
    // Single reads share this: transact, decode, store unless the answer was
    // missing or broken.
    int32_t ReadValue(const std::string& request, bool bHex, int32_t& stored);
    WriteResult WriteValue(const std::string& request, bool bHex, int32_t value, int32_t& stored);
    bool ZoneInRange(int zone) const { return zone >= 1 && zone <= kMaxZones; }
    bool HexNumbering() const { return m_nZoneCount >= 100; }
    // A row answer can be judged: the zone count is 1..kMaxZones and the
    // width 4 or 5. Without that a row is refused before it is asked for.
    bool RowShapeKnown() const;
    // Formats a value in the unit's width: 4 digits when the width is 4, else 5.
    std::string FormatValue(int32_t value, bool bHex) const;

    bool m_bPortOpen = false;
    bool m_bOffline = true;
    int16_t m_nAddress = 0;
    int16_t m_nValueWidth = 4;
    int16_t m_nAZNumber = 0;
    std::string m_strType;
    int32_t m_nEpromNumber = 0;
    int32_t m_nVersion = 0;
    std::string m_strRevDate;
    std::string m_strComment;
    int32_t m_nGlobalParamCount = 0;
    int32_t m_nZoneParamCount = 0;
    int32_t m_nZoneCount = 0;
    // The catalogue; loaded is told by m_bDefinitionsLoaded, since an empty
    // catalogue is a loaded one.
    std::vector<GlobalParamDef> m_pGlobalParams;
    bool m_bDefinitionsLoaded = false;
    int32_t m_aZoneParam[kMaxZoneParams][kMaxZones] = {};
    int32_t m_aSetValue[kMaxZones] = {};
    int32_t m_aActualValue[kMaxZones] = {};
    int16_t m_nPort = 0;
    int32_t m_nBaudrate = 0;
    uint8_t m_nParity = 0;
    uint8_t m_nDataBits = 0;
    uint8_t m_nStopBits = 0;
    int16_t m_nTimeout = 0;
    CComPort m_Port;
    int32_t m_nDefaultZoneParamCount = 0;
    TransactFailure m_eLastFailure = TransactFailure::None;
    long long m_nLineFaults = 0;
    bool m_bLastSilentTry = false;
    long long m_nOtherAddressAnswers = 0;
    bool m_bCheckAnswerAddress = true;
};

// The one unit record of the program.
CUnit& TheUnit();
