#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Posix.h"

namespace platform {

// Line settings in the codes the rest of the program uses.
struct SerialSettings
{
    int32_t nBaudrate = 9600;
    uint8_t nParity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t nDataBits = 8;  // 5..8
    uint8_t nStopBits = 0;  // 0 one, 1 one and a half, 2 two
};

enum class SerialError { None, NotFound, Busy, Access, Settings, Io };

// The driver's serial flags (ASYNC_*), as TIOCGSERIAL reads them and
// TIOCSSERIAL writes them. Each call returns 0, or the errno of its failure.
struct SerialFlagAccess
{
    std::function<int(int& flags)> read;
    std::function<int(int flags)> write;
};

// The driver's low-latency mode (ASYNC_LOW_LATENCY) for as long as the
// device is open: a USB adapter otherwise holds each answer back for its
// latency timer (16 ms by default), which its driver then sets to 1 ms.
class LowLatencySwitch
{
public:
    // Off: the driver has no such mode, or keeps it to itself (ENOTTY,
    // EINVAL, EPERM: pseudo-terminals, most drivers); nothing to report.
    // On: set now, or the driver had it on already. Refused: the driver
    // failed otherwise (GetErrno tells how); the link works without.
    enum class State { Off, On, Refused };

    // At open. Leaves every other flag as the driver had it.
    State Engage(const SerialFlagAccess& access);
    // At close: the driver's low-latency flag back as it was before Engage,
    // when Engage changed it; every other flag as it stands now. Returns 0
    // or the errno of the failure (an unplugged adapter); nothing is
    // written, and 0 returned, when Engage changed nothing.
    int Restore(const SerialFlagAccess& access);

    State GetState() const { return m_state; }
    int GetErrno() const { return m_nErrno; }

private:
    State m_state = State::Off;
    int m_nErrno = 0;
    bool m_bChanged = false;
    int m_nDriverFlags = 0;
};

// The latency timer of the USB adapter behind a device path, in ms, as its
// driver shows it in sysfs (/sys/bus/usb-serial/devices/NAME/latency_timer);
// -1 for a device without one.
int ReadLatencyTimerMs(const std::string& devicePath);

// A serial device, protocol-blind. On Windows a port (COM7, \\.\COM7)
// opened with no sharing, which is Windows' own exclusive use and its only
// lock (no holder pid, no lock file, no low-latency switch); the rest of this
// comment is the POSIX side.
//
// A POSIX serial device (termios), protocol-blind. Opened exclusively, raw,
// parity generated but never checked, no flow control, DTR and RTS off.
//
// Exclusive means: not while another process holds the device, by any of the
// Linux conventions, since each keeps out only the programs that follow it: a
// UUCP lock file (LCK..name in the lock directory, the owner's pid as ten
// ASCII characters and a newline; one whose owner is gone is stale and
// removed), flock, TIOCEXCL, and a look through /proc for any other process
// that has the device open. The lock file is ours from Open to Close (and is
// removed at exit); without a writable lock directory the device is opened
// without one.
class SerialDevice
{
public:
    enum class ReadResult { Byte, Timeout, Error };

    SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    ~SerialDevice();

    // Opens and configures the device. On failure the device stays closed and
    // GetError/GetErrorText tell why.
    bool Open(const std::string& path, const SerialSettings& settings);
    // Returns false when the device was not open or close() failed.
    bool Close();
    bool IsOpen() const;

    // Writes all bytes (retrying short writes) within 20 ms a byte plus
    // timeoutMs; false on an error or when the output stalls beyond that.
    bool Write(const char* data, std::size_t size, int timeoutMs = 1000);
    // One byte: from what an earlier read fetched, else waits at most
    // timeoutMs for the line and takes whatever has arrived by then (up to
    // kReadBlock bytes in one read). A hang-up (unplugged adapter, the other
    // end of a pseudo-terminal closed) is an Error, reported at once.
    ReadResult ReadByte(char& byte, int timeoutMs);
    // True when a byte is waiting (fetched or in the driver) or arrives
    // before deadline; waits with the precision of ppoll(), so that a check
    // for bytes right after an answer costs no whole millisecond. A hang-up
    // is false here; the next ReadByte reports it.
    bool InputBefore(std::chrono::steady_clock::time_point deadline);
    // When the byte ReadByte returned last was fetched from the driver: no
    // later than it arrived.
    std::chrono::steady_clock::time_point LastFetchTime() const { return m_tLastFetch; }
    // Discards bytes received but not yet read and returns them (bytes the
    // driver flushed without handing them over are not among them).
    std::string DiscardInput();
    // read() calls made since the device was constructed.
    long long GetReadCalls() const { return m_nReadCalls; }

    static constexpr std::size_t kReadBlock = 1024;

    SerialError GetError() const { return m_error; }
    const std::string& GetErrorText() const { return m_strErrorText; }
    // After an Open that failed with Busy: the process that holds the device,
    // 0 when no process id is known (flock or TIOCEXCL refused us).
    long GetHolderPid() const { return m_nHolderPid; }
    // The lock file held while open; empty when none (no writable directory).
    const std::string& GetLockPath() const { return m_strLockPath; }
    // The low-latency mode of the last Open that succeeded (Off before one).
    const LowLatencySwitch& GetLowLatency() const { return m_lowLatency; }
    // The adapter's latency timer after the last Open, in ms; -1: none.
    int GetLatencyTimerMs() const { return m_nLatencyTimerMs; }

private:
    // Records the failure (what, and the system's text for err when it is
    // not 0) and returns false, for the caller to return.
    bool Fail(SerialError error, const std::string& what, int err);
    // A failure of Open once the device is open: closes it and lets go of
    // the lock file, so an Open that fails holds nothing. Returns false.
    bool Abandon(UniqueFd& fd, SerialError error, const std::string& what, int err);
    // The same with errno's text; errno is read first, before anything else
    // can change it.
    bool AbandonWithErrno(UniqueFd& fd, SerialError error, const std::string& path, const char* what);

    // Windows: waits at most timeoutMs for a first byte and takes what has
    // come into the buffer (none on a time-out). False, with the error
    // recorded, when the port fails.
    bool FetchWithin(int timeoutMs);
    // Windows: one overlapped transfer on the port, waited for at most
    // timeoutMs (then cancelled); the bytes moved, -1 on an error.
    long Transfer(bool bWrite, char* data, unsigned long size, int timeoutMs);

    int m_fd = -1;
    // Windows: the port's HANDLE (opened for overlapped I/O) and the event
    // its transfers and waits signal.
    void* m_hComm = nullptr;
    void* m_hIoEvent = nullptr;
    // Bytes fetched but not yet handed out: m_buffer[m_nBufferPos..m_nBufferEnd).
    char m_buffer[kReadBlock] = {};
    std::size_t m_nBufferPos = 0;
    std::size_t m_nBufferEnd = 0;
    std::chrono::steady_clock::time_point m_tLastFetch{};
    long long m_nReadCalls = 0;
    long m_nHolderPid = 0;
    std::string m_strLockPath;
    LowLatencySwitch m_lowLatency;
    int m_nLatencyTimerMs = -1;
    SerialError m_error = SerialError::None;
    std::string m_strErrorText;
};

// True when the path can be opened exclusively for reading and writing now
// and no other process holds it (see SerialDevice); the device is closed
// again at once and no lock file is left.
bool ProbeSerialDevice(const std::string& path);
// The same for several paths, with one pass over /proc for all of them.
std::vector<bool> ProbeSerialDevices(const std::vector<std::string>& paths);

// The directories for UUCP lock files, in order of preference: the first
// that exists is used. /run/lock, then /var/lock, unless set (tests).
void SetSerialLockDirectories(std::vector<std::string> dirs);

}  // namespace platform
