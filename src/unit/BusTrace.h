#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// What became of one try of a telegram, as the trace names it.
enum class TraceOutcome
{
    Answer,               // a checksummed answer that was accepted
    Ack,                  // an answer holding ACK
    Nak,                  // an answer holding NAK
    BadChecksum,          // bytes came, but no answer that passes the check
    NoAnswer,             // nothing came within the time-out
    DiscardedLateAnswer,  // bytes that came after their try had given up
    OtherAddress,         // a whole answer, but from another address
    BadAnswer,            // the checksum works out, but not the characters or the length
    SecondAnswer,         // more bytes came right after the answer
    EarlyAnswer,          // bytes came while the request was still on the wire
};

// A bus trace for the service engineer: one line per telegram try, written
// through a buffer to a file that is appended to. Each line holds, separated
// by tabs: milliseconds since the job began (three decimals), the bus address
// (two digits), the request text, the bytes received, and the outcome.
// Control characters are shown as <ETX>, <ACK>, <NAK>, every other byte
// outside printable ASCII as <xx> (two upper-case hexadecimal digits). Lines
// beginning with '#' mark the start of the trace and of each job.
//
// The telegram layer looks at ActiveBusTrace() once per try and does nothing
// else while it is null. The calls may come from a worker and from the
// user-interface thread, one job at a time; a lock keeps lines whole anyway.
class CBusTrace
{
public:
    CBusTrace() = default;
    CBusTrace(const CBusTrace&) = delete;
    CBusTrace& operator=(const CBusTrace&) = delete;
    ~CBusTrace();

    // Opens path for appending and writes a first line "# " + header. False,
    // with the system's reason in error, when it cannot be opened.
    bool Open(const std::string& path, const std::string& header, std::string& error);
    // Flushes and closes; nothing happens while it is not open.
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }

    // A job begins (the link is opened): the clock restarts and a line
    // "# " + what is written, with the local date and time.
    void BeginJob(const std::string& what);
    // One line: a try with the bytes as read from the line (noise before the
    // start letter included) and the telegram layer's judgement of them, or
    // the late bytes a discard step threw away.
    void Line(int16_t address, const std::string& request, const std::string& bytes, TraceOutcome outcome);
    // Hands the buffer to the file (the end of a job, the end of the program).
    void Flush();

    // The bytes as the trace shows them.
    static std::string Render(const std::string& bytes);
    // "answer", "ACK", "NAK", "bad checksum", "no answer", "discarded late
    // answer", "other address" (with the setting that turns the address
    // check off), "bad answer", "second answer", "answer began early".
    static const char* OutcomeName(TraceOutcome outcome);

private:
    double MillisecondsSinceJobBegan() const;

    std::mutex m_mutex;
    std::FILE* m_pFile = nullptr;
    std::chrono::steady_clock::time_point m_jobStart = std::chrono::steady_clock::now();
};

// The process's trace, or null while tracing is off.
CBusTrace* ActiveBusTrace();
// Makes trace (which must outlive its use, or be replaced first) the
// process's trace; null turns tracing off. Set before any job runs.
void SetActiveBusTrace(CBusTrace* trace);

class CComPort;
// The job line for a link just opened (or not): device, baud rate, time-out
// or the reason it failed.
std::string DescribeLinkForTrace(const CComPort& port, int32_t nBaudrate, bool bOpened);

// For the steps that throw away bytes arriving after a try gave up (before a
// retry, and while the line is let go quiet): records them as a discarded
// late answer when tracing is on and there were any, and nothing otherwise.
void TraceDiscardedAnswer(int16_t address, const std::string& request, const std::string& bytes);
