#include "platform/SerialDevice.h"

#include <windows.h>

#include <algorithm>

#include "platform/SerialPorts.h"
#include "platform/Win32.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// COM7 and \\.\COM7 name the port; anything else is taken as it is (a
// device name some driver registers).
std::wstring DeviceName(const std::string& path)
{
    const int n = PortNumberOfName(path);
    return WideFromUtf8(n > 0 ? "\\\\.\\COM" + std::to_string(n) : path);
}

int ToWindowsParity(uint8_t code)
{
    switch (code) {
    case 0: return NOPARITY;
    case 1: return ODDPARITY;
    case 2: return EVENPARITY;
    case 3: return MARKPARITY;
    case 4: return SPACEPARITY;
    }
    return -1;
}

int ToWindowsStopBits(uint8_t code)
{
    switch (code) {
    case 0: return ONESTOPBIT;
    case 1: return ONE5STOPBITS;
    case 2: return TWOSTOPBITS;
    }
    return -1;
}

int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 0x7FFFFFFF));
}

}  // namespace

// Windows keeps these to itself: nothing to switch, no timer to read.
LowLatencySwitch::State LowLatencySwitch::Engage(const SerialFlagAccess&) { return m_state = State::Off; }
int LowLatencySwitch::Restore(const SerialFlagAccess&) { return 0; }
int ReadLatencyTimerMs(const std::string&) { return -1; }
void SetSerialLockDirectories(std::vector<std::string>) {}

SerialDevice::~SerialDevice()
{
    Close();
}

bool SerialDevice::IsOpen() const { return m_hComm != nullptr; }

bool SerialDevice::Fail(SerialError error, const std::string& what, int err)
{
    m_error = error;
    m_strErrorText = what;
    if (err != 0)
        m_strErrorText += ": " + Win32ErrorText(static_cast<unsigned long>(err));
    return false;
}

bool SerialDevice::Open(const std::string& path, const SerialSettings& settings)
{
    Close();
    m_error = SerialError::None;
    m_strErrorText.clear();
    m_nHolderPid = 0;

    const int parity = ToWindowsParity(settings.nParity);
    const int stopBits = ToWindowsStopBits(settings.nStopBits);
    if (settings.nBaudrate <= 0)
        return Fail(SerialError::Settings,
                    path + ": baud rate " + std::to_string(settings.nBaudrate) + " not supported", 0);
    if (settings.nDataBits < 5 || settings.nDataBits > 8 || parity < 0 || stopBits < 0)
        return Fail(SerialError::Settings,
                    path + ": character format not supported (data bits " + std::to_string(settings.nDataBits) +
                        ", parity code " + std::to_string(settings.nParity) + ", stop-bit code " +
                        std::to_string(settings.nStopBits) + ")",
                    0);

    // No sharing: Windows refuses every other opener while we hold it.
    UniqueHandle port(CreateFileW(DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) {
        const DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
            return Fail(SerialError::Busy, path + ": in use by another program", 0);
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return Fail(SerialError::NotFound, path + ": cannot open", static_cast<int>(err));
        return Fail(SerialError::Access, path + ": cannot open", static_cast<int>(err));
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port.Get(), &dcb))
        return Fail(SerialError::Settings, path + ": not a serial device", static_cast<int>(GetLastError()));
    dcb.BaudRate = static_cast<DWORD>(settings.nBaudrate);
    dcb.ByteSize = settings.nDataBits;
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stopBits);
    dcb.fBinary = TRUE;
    // Parity is generated but never checked, as on Linux: the telegrams
    // carry their own check.
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port.Get(), &dcb))
        return Fail(SerialError::Settings, path + ": line settings refused", static_cast<int>(GetLastError()));
    // Reads return at once with what is there; writes are timed by Write.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(port.Get(), &timeouts) || !SetCommMask(port.Get(), EV_RXCHAR))
        return Fail(SerialError::Settings, path + ": line settings refused", static_cast<int>(GetLastError()));
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return Fail(SerialError::Io, path + ": cannot open", static_cast<int>(GetLastError()));
    PurgeComm(port.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);

    m_hComm = port.Release();
    m_hIoEvent = event.Release();
    m_nBufferPos = m_nBufferEnd = 0;
    m_lowLatency = LowLatencySwitch();
    m_nLatencyTimerMs = -1;
    return true;
}

bool SerialDevice::Close()
{
    if (m_hComm == nullptr)
        return false;
    const bool bOk = CloseHandle(m_hComm) != 0;
    CloseHandle(m_hIoEvent);
    m_hComm = m_hIoEvent = nullptr;
    m_nBufferPos = m_nBufferEnd = 0;
    return bOk;
}

long SerialDevice::Transfer(bool bWrite, char* data, unsigned long size, int timeoutMs)
{
    OVERLAPPED io{};
    io.hEvent = m_hIoEvent;
    DWORD n = 0;
    const BOOL done = bWrite ? WriteFile(m_hComm, data, size, &n, &io) : ReadFile(m_hComm, data, size, &n, &io);
    if (!done) {
        if (GetLastError() != ERROR_IO_PENDING)
            return -1;
        if (WaitForSingleObject(m_hIoEvent, static_cast<DWORD>(std::max(timeoutMs, 0))) != WAIT_OBJECT_0)
            CancelIo(m_hComm);
        if (!GetOverlappedResult(m_hComm, &io, &n, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED)
            return -1;
    }
    return static_cast<long>(n);
}

bool SerialDevice::Write(const char* data, std::size_t size, int timeoutMs)
{
    if (m_hComm == nullptr)
        return Fail(SerialError::Io, "write: not open", 0);
    // As on Linux: the time the bytes need (20 ms a byte) and the time-out,
    // then the output counts as stalled.
    const auto deadline = Clock::now() + std::chrono::milliseconds(20 * static_cast<long long>(size) + std::max(timeoutMs, 0));
    std::size_t done = 0;
    while (done < size) {
        const unsigned long chunk = static_cast<unsigned long>(std::min<std::size_t>(size - done, 0x10000));
        const long n = Transfer(true, const_cast<char*>(data + done), chunk, MsUntil(deadline));
        if (n < 0)
            return Fail(SerialError::Io, "write", static_cast<int>(GetLastError()));
        if (n == 0)
            return Fail(SerialError::Io, "write: output stalled", 0);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The port's read time-outs are set once to "return at once with what is
// there"; the wait for a first byte is a WaitCommEvent for EV_RXCHAR. (The
// documented single-call form, a total time-out with the interval and the
// multiplier at MAXDWORD, is not honoured by every serial layer: some wait
// the whole time-out even when the first byte came at once.)
bool SerialDevice::FetchWithin(int timeoutMs)
{
    m_nBufferPos = m_nBufferEnd = 0;
    const auto take = [this] {
        ++m_nReadCalls;
        const long n = Transfer(false, m_buffer, static_cast<unsigned long>(sizeof m_buffer), 0);
        if (n < 0)
            return Fail(SerialError::Io, "read", static_cast<int>(GetLastError()));
        m_nBufferEnd = static_cast<std::size_t>(n);
        if (n > 0)
            m_tLastFetch = Clock::now();
        return true;
    };
    if (!take())
        return false;
    if (m_nBufferEnd > 0 || timeoutMs <= 0)
        return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        OVERLAPPED io{};
        io.hEvent = m_hIoEvent;
        DWORD mask = 0, n = 0;
        if (!WaitCommEvent(m_hComm, &mask, &io)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return Fail(SerialError::Io, "read: device hung up", static_cast<int>(GetLastError()));
            // A byte that came between the read above and the wait set no
            // event: look at the queue before sleeping on it.
            DWORD errors = 0;
            COMSTAT status{};
            const bool bWaiting = ClearCommError(m_hComm, &errors, &status) && status.cbInQue > 0;
            if (bWaiting || WaitForSingleObject(m_hIoEvent, static_cast<DWORD>(MsUntil(deadline))) != WAIT_OBJECT_0)
                CancelIo(m_hComm);
            GetOverlappedResult(m_hComm, &io, &n, TRUE);
        }
        if (!take())
            return false;
        if (m_nBufferEnd > 0)
            return true;
    }
    return true;
}

SerialDevice::ReadResult SerialDevice::ReadByte(char& byte, int timeoutMs)
{
    if (m_hComm == nullptr) {
        Fail(SerialError::Io, "read: not open", 0);
        return ReadResult::Error;
    }
    if (m_nBufferPos < m_nBufferEnd) {
        byte = m_buffer[m_nBufferPos++];
        return ReadResult::Byte;
    }
    // A driver may return early without a byte; the deadline still holds.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (int wait = std::max(timeoutMs, 0);; wait = MsUntil(deadline)) {
        if (!FetchWithin(wait))
            return ReadResult::Error;
        if (m_nBufferEnd > 0) {
            byte = m_buffer[m_nBufferPos++];
            return ReadResult::Byte;
        }
        if (Clock::now() >= deadline)
            return ReadResult::Timeout;
    }
}

bool SerialDevice::InputBefore(Clock::time_point deadline)
{
    if (m_nBufferPos < m_nBufferEnd)
        return true;
    if (m_hComm == nullptr)
        return false;
    do {
        if (!FetchWithin(MsUntil(deadline)))
            return false;
        if (m_nBufferEnd > 0)
            return true;
    } while (Clock::now() < deadline);
    return false;
}

std::string SerialDevice::DiscardInput()
{
    std::string discarded(m_buffer + m_nBufferPos, m_buffer + m_nBufferEnd);
    m_nBufferPos = m_nBufferEnd = 0;
    if (m_hComm == nullptr)
        return discarded;
    // Read rather than only purged, so that the caller learns whether the
    // line carried anything; bounded against a device that streams.
    for (int i = 0; i < 64 && FetchWithin(0) && m_nBufferEnd > 0; ++i)
        discarded.append(m_buffer, m_nBufferEnd);
    m_nBufferPos = m_nBufferEnd = 0;
    PurgeComm(m_hComm, PURGE_RXCLEAR);
    return discarded;
}

bool ProbeSerialDevice(const std::string& path)
{
    UniqueHandle port(
        CreateFileW(DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(port);
}

std::vector<bool> ProbeSerialDevices(const std::vector<std::string>& paths)
{
    std::vector<bool> free;
    for (const std::string& path : paths)
        free.push_back(ProbeSerialDevice(path));
    return free;
}

}  // namespace platform
