#include "unit/ComPort.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "config/PortMap.h"

namespace {

constexpr char kEtx = 0x03;
// A device that streams without ever sending ETX must not hold a job.
constexpr int kMaxAnswerBytes = 1024;
constexpr int16_t kDefaultTimeoutMs = 200;
// Every byte may come this much later than the time-out: the margin the
// units' answer timing was built around.
constexpr int kPerByteExtraMs = 20;
// The pause between an answer's last byte and the next telegram.
constexpr int kTurnaroundMs = 1;

}  // namespace

CComPort::~CComPort()
{
    Close();
}

bool CComPort::Open(int16_t nPort, int32_t nBaudrate, uint8_t nParity, uint8_t nDataBits,
                    uint8_t nStopBits, int16_t nTimeout)
{
    Close();

    m_nPort = nPort;
    m_nBaudrate = nBaudrate;
    m_nParity = nParity;
    m_nDataBits = nDataBits;
    m_nStopBits = nStopBits;
    // Zero would make every read give up at once, a negative value would wait
    // for ever; both come from a hand-edited settings file.
    m_nTimeout = (nTimeout >= 1) ? nTimeout : kDefaultTimeoutMs;

    m_bInUse = false;
    m_nHolderPid = 0;
    m_bLinkFailed = false;
    m_strLinkError.clear();
    m_strDevicePath = m_strDeviceOverride.empty() ? DevicePathForPort(m_nPort) : m_strDeviceOverride;
    if (m_strDevicePath.empty()) {
        m_strLastError = "COM" + std::to_string(m_nPort) + ": no such port";
        return false;
    }

    platform::SerialSettings settings;
    settings.nBaudrate = m_nBaudrate;
    settings.nParity = m_nParity;
    settings.nDataBits = m_nDataBits;
    settings.nStopBits = m_nStopBits;
    if (!m_device.Open(m_strDevicePath, settings)) {
        m_strLastError = m_device.GetErrorText();
        m_bInUse = m_device.GetError() == platform::SerialError::Busy;
        m_nHolderPid = m_device.GetHolderPid();
        return false;
    }
    m_strLastError.clear();
    return true;
}

bool CComPort::Close()
{
    return m_device.Close();
}

void CComPort::Write(const std::string& text)
{
    // On a two-wire bus the units need this long to turn their line driver
    // around after an answer; counted from the answer's last byte, so that
    // whatever the caller did meanwhile counts towards it.
    const auto now = std::chrono::steady_clock::now();
    if (now < m_tTurnaroundEnd)
        std::this_thread::sleep_for(m_tTurnaroundEnd - now);
    // A failed write shows as a silent answer, which the telegram layer
    // repeats; a job that watches the link learns of it from HasLinkFailed.
    const auto start = std::chrono::steady_clock::now();
    ++m_nWrites;
    if (!m_device.Write(text.data(), text.size(), m_nTimeout))
        NoteLinkFailure();
    // write() returns once the driver has the bytes, long before a slow line
    // has carried them; the unit cannot answer before that.
    m_tRequestOnWire = std::max(std::chrono::steady_clock::now(), start + WireTime(text.size()));
    m_nLastRequestBytes = text.size();
}

std::chrono::steady_clock::duration CComPort::WireTime(std::size_t n) const
{
    // Bits a character in halves: start, data, parity, stop (1, 1.5 or 2).
    const long long halfBits = 2 + 2LL * (m_nDataBits ? m_nDataBits : 8) + (m_nParity != 0 ? 2 : 0) +
                               (m_nStopBits == 1 ? 3 : m_nStopBits == 2 ? 4 : 2);
    const long long baud = m_nBaudrate > 0 ? m_nBaudrate : 9600;
    return std::chrono::nanoseconds(static_cast<long long>(n) * halfBits * 500000000LL / baud);
}

bool CComPort::BytesFollowAnswer()
{
    if (!m_device.IsOpen())
        return false;
    // The next request cannot go out before the turnaround: what arrives by
    // then belongs to no request. A wider window would cost every telegram
    // its width, and a byte later than this is dropped as stale before the
    // next request all the same.
    return m_device.InputBefore(m_device.LastFetchTime() + std::chrono::milliseconds(kTurnaroundMs));
}

bool CComPort::BytesFollowExchange()
{
    if (!m_device.IsOpen())
        return false;
    constexpr std::size_t kFifoPiece = 16;
    const int latencyMs = std::max(m_device.GetLatencyTimerMs(), 0);
    const auto watch = std::chrono::milliseconds(kTurnaroundMs + latencyMs) + WireTime(m_nLastRequestBytes + kFifoPiece);
    return m_device.InputBefore(m_device.LastFetchTime() + watch);
}

void CComPort::AfterBytes(std::chrono::steady_clock::time_point lastByte)
{
    m_tTurnaroundEnd = lastByte + std::chrono::milliseconds(kTurnaroundMs);
}

int CComPort::Read(std::string& answer, int nExpectedLength)
{
    using Clock = std::chrono::steady_clock;
    std::string text;
    int nCalls = 0;
    bool bError = false;
    bool bEndedOnEtx = false;
    m_nLastReadBytes = 0;
    m_strLastEarly.clear();

    // The first byte's wait begins when the request has left the wire.
    auto untilOnWire = [this] {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_tRequestOnWire - Clock::now());
        return static_cast<int>(std::max<long long>(left.count(), 0));
    };
    int waitMs = m_nTimeout + kPerByteExtraMs + untilOnWire();
    for (int taken = 0; taken < 2 * kMaxAnswerBytes; ++taken) {
        char byte = 0;
        platform::SerialDevice::ReadResult result = m_device.ReadByte(byte, waitMs);
        waitMs = m_nTimeout + kPerByteExtraMs;
        if (result == platform::SerialDevice::ReadResult::Byte && m_device.LastFetchTime() < m_tRequestOnWire) {
            // On the line while our request still was: an answer to an
            // earlier one, or another unit's. Never part of this answer.
            m_strLastEarly += byte;
            waitMs += untilOnWire();
            continue;
        }
        ++nCalls;
        if (result == platform::SerialDevice::ReadResult::Timeout)
            break;
        if (result == platform::SerialDevice::ReadResult::Error) {
            bError = true;
            break;
        }
        ++m_nLastReadBytes;
        // A NUL counts as a received byte but is not part of the text.
        if (byte != 0)
            text += byte;
        if (byte == kEtx) {
            bEndedOnEtx = true;
            break;
        }
        if (nCalls >= kMaxAnswerBytes)
            break;
    }
    if (m_nLastReadBytes > 0 || !m_strLastEarly.empty())
        AfterBytes(m_device.LastFetchTime());

    // A first call without a byte, with an error or with a lone ETX is no
    // answer.
    if (nCalls == 1)
        text.clear();
    answer = text;

    if (bError) {
        NoteLinkFailure();
        return 1;
    }
    if (nExpectedLength != 0 && bEndedOnEtx &&
        !(nCalls > nExpectedLength - 4 && nCalls < nExpectedLength + 4))
        return 2;
    return 0;
}

void CComPort::NoteLinkFailure()
{
    m_bLinkFailed = true;
    m_strLinkError = m_device.GetErrorText();
}

int CComPort::GetByteWaitMs() const
{
    return m_nTimeout + kPerByteExtraMs;
}

std::string CComPort::DiscardInput()
{
    std::string discarded = m_device.DiscardInput();
    m_nDiscardedBytes += static_cast<long long>(discarded.size());
    if (!discarded.empty())
        AfterBytes(std::chrono::steady_clock::now());
    return discarded;
}

std::string CComPort::LetLineGoQuiet(int nQuietMs)
{
    using Clock = std::chrono::steady_clock;
    std::string discarded;
    if (!m_device.IsOpen() || nQuietMs <= 0)
        return discarded;
    // Ten bits a byte; a rate that is not set yet counts as 9600.
    const long long baud = m_nBaudrate > 0 ? m_nBaudrate : 9600;
    const long long wireMs = 2LL * kMaxAnswerBytes * 10 * 1000 / baud;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(4LL * nQuietMs + wireMs);
    for (;;) {
        char byte = 0;
        const platform::SerialDevice::ReadResult result = m_device.ReadByte(byte, nQuietMs);
        if (result != platform::SerialDevice::ReadResult::Byte)
            break;
        discarded += byte;
        AfterBytes(m_device.LastFetchTime());
        if (Clock::now() >= giveUp)
            break;
    }
    m_nDiscardedBytes += static_cast<long long>(discarded.size());
    return discarded;
}
