#include "unit/BusTrace.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/LocalTime.h"
#include "unit/Unit.h"

namespace {

constexpr char kEtx = 0x03;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
// Enough for every line of a long receive between two flushes: the file
// sees one write per job rather than one per telegram.
constexpr std::size_t kBufferBytes = 256 * 1024;

std::atomic<CBusTrace*> g_pActive{nullptr};

std::string LocalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    long offset = 0;
    const std::tm local = platform::LocalTimeOf(now, offset);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

CBusTrace* ActiveBusTrace() { return g_pActive.load(std::memory_order_acquire); }

void SetActiveBusTrace(CBusTrace* trace) { g_pActive.store(trace, std::memory_order_release); }

void TraceDiscardedAnswer(int16_t address, const std::string& request, const std::string& bytes)
{
    if (bytes.empty())
        return;
    if (CBusTrace* trace = ActiveBusTrace())
        trace->Line(address, request, bytes, TraceOutcome::DiscardedLateAnswer);
}

std::string DescribeLinkForTrace(const CComPort& port, int32_t nBaudrate, bool bOpened)
{
    std::string text = "job: " + port.GetDevicePath() + " at " + std::to_string(nBaudrate) + " baud";
    if (!bOpened)
        return text + ", cannot be opened: " + port.GetLastError();
    text += ", time-out " + std::to_string(port.GetTimeout()) + " ms";
    const platform::LowLatencySwitch& lowLatency = port.GetLowLatency();
    switch (lowLatency.GetState()) {
    case platform::LowLatencySwitch::State::On: text += ", low latency on"; break;
    case platform::LowLatencySwitch::State::Off: text += ", low latency off (not offered by the driver)"; break;
    case platform::LowLatencySwitch::State::Refused:
        text += ", low latency off (the driver refused it: " + std::string(std::strerror(lowLatency.GetErrno())) + ")";
        break;
    }
    if (port.GetLatencyTimerMs() >= 0)
        text += ", latency_timer " + std::to_string(port.GetLatencyTimerMs()) + " ms";
    return text;
}

CBusTrace::~CBusTrace()
{
    if (ActiveBusTrace() == this)
        SetActiveBusTrace(nullptr);
    Close();
}

bool CBusTrace::Open(const std::string& path, const std::string& header, std::string& error)
{
    Close();
    std::lock_guard lock(m_mutex);
    m_pFile = std::fopen(path.c_str(), "ae");
    if (!m_pFile) {
        error = std::strerror(errno);
        return false;
    }
    std::setvbuf(m_pFile, nullptr, _IOFBF, kBufferBytes);
    m_jobStart = std::chrono::steady_clock::now();
    std::fprintf(m_pFile, "# %s, %s\n", header.c_str(), LocalTimeNow().c_str());
    std::fflush(m_pFile);
    return true;
}

void CBusTrace::Close()
{
    std::lock_guard lock(m_mutex);
    if (!m_pFile)
        return;
    std::fclose(m_pFile);
    m_pFile = nullptr;
}

void CBusTrace::BeginJob(const std::string& what)
{
    std::lock_guard lock(m_mutex);
    m_jobStart = std::chrono::steady_clock::now();
    if (m_pFile)
        std::fprintf(m_pFile, "# %s, %s\n", what.c_str(), LocalTimeNow().c_str());
}

void CBusTrace::Line(int16_t address, const std::string& request, const std::string& bytes, TraceOutcome outcome)
{
    const std::string shownRequest = Render(request);
    const std::string shownBytes = Render(bytes);
    std::lock_guard lock(m_mutex);
    if (!m_pFile)
        return;
    std::fprintf(m_pFile, "%.3f\t%02d\t%s\t%s\t%s\n", MillisecondsSinceJobBegan(), static_cast<int>(address),
                 shownRequest.c_str(), shownBytes.c_str(), OutcomeName(outcome));
}

void CBusTrace::Flush()
{
    std::lock_guard lock(m_mutex);
    if (m_pFile)
        std::fflush(m_pFile);
}

double CBusTrace::MillisecondsSinceJobBegan() const
{
    const std::chrono::duration<double, std::milli> since = std::chrono::steady_clock::now() - m_jobStart;
    return since.count();
}

std::string CBusTrace::Render(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == kEtx)
            shown += "<ETX>";
        else if (c == kAck)
            shown += "<ACK>";
        else if (c == kNak)
            shown += "<NAK>";
        // '<' itself stays as it is: a unit sends no angle brackets, and a
        // trace is read by people.
        else if (byte >= 0x20 && byte < 0x7F)
            shown += c;
        else {
            shown += '<';
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
            shown += '>';
        }
    }
    return shown;
}

const char* CBusTrace::OutcomeName(TraceOutcome outcome)
{
    switch (outcome) {
    case TraceOutcome::Answer:
        return "answer";
    case TraceOutcome::Ack:
        return "ACK";
    case TraceOutcome::Nak:
        return "NAK";
    case TraceOutcome::BadChecksum:
        return "bad checksum";
    case TraceOutcome::NoAnswer:
        return "no answer";
    case TraceOutcome::DiscardedLateAnswer:
        return "discarded late answer";
    case TraceOutcome::OtherAddress:
        return "other address (CheckAnswerAddress=0 in [COM_PORT] of CONFIG.INI turns this check off)";
    case TraceOutcome::BadAnswer:
        return "bad answer";
    case TraceOutcome::SecondAnswer:
        return "second answer";
    case TraceOutcome::EarlyAnswer:
        return "answer began early";
    }
    return "";
}

