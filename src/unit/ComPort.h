#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/SerialDevice.h"

// The byte pipe to the bus: one serial port, opened exclusively, raw 8 bits,
// no flow control. Knows nothing of telegrams except that an answer ends with
// ETX (0x03). Used by one thread at a time; no lock.
class CComPort
{
public:
    CComPort() = default;
    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;
    ~CComPort();

    // Stores the six settings, resolves the port number to a device path
    // (DevicePathForPort, or the override) and opens and configures it.
    // Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space. Stop-bit codes:
    // 0 one, 1 one and a half, 2 two. A time-out outside 1..32767 ms is used
    // as 200 ms. Fails (and leaves the port closed) when the device is missing,
    // held by another process, or refuses the line settings.
    bool Open(int16_t nPort, int32_t nBaudrate, uint8_t nParity, uint8_t nDataBits,
              uint8_t nStopBits, int16_t nTimeout);

    // Closes the port. Returns false when it was not open or the close failed.
    bool Close();

    // Sends the bytes of the text, giving up after 20 ms a byte plus the
    // time-out. Failures are not reported: the read that follows times out
    // and the telegram layer repeats the request. Notes when the last byte
    // will have left the wire (the write's start plus the bytes' wire time at
    // the line settings): the next Read's wait for the first byte begins
    // there, so that a slow line never doubles a request.
    void Write(const std::string& text);

    // Collects one answer, up to and including ETX, into answer (replacing it).
    // Each byte is waited for at most t + 20 ms, the first from the moment the
    // request has left the wire. A byte fetched before that moment cannot
    // belong to the answer (a unit answers a request it has heard whole): it
    // is kept out of the answer and reported by GetLastEarlyBytes. An answer
    // that ends in its first byte (no byte, an error, a lone ETX) is empty.
    // NUL bytes are dropped. Stops after 1024 bytes, and at once on a read
    // error such as an unplugged adapter. Returns 1 for a read error, 2 when
    // nExpectedLength is not 0, the answer ended on ETX and its byte count is
    // not within nExpectedLength +- 3, else 0. The next Write goes out no
    // sooner than 1 ms after the answer's last byte (the units' turnaround).
    int Read(std::string& answer, int nExpectedLength);
    // The bytes the last Read received before its request had left the wire.
    const std::string& GetLastEarlyBytes() const { return m_strLastEarly; }
    // Bytes the last Read received, NUL and ETX included (a lone ETX is one).
    int GetLastReadBytes() const { return m_nLastReadBytes; }
    // How long a Read waits for each byte: the time-out plus 20 ms.
    int GetByteWaitMs() const;

    // Whether bytes follow the answer Read took last: any byte already there
    // or arriving within the turnaround after its last byte (a second unit at
    // the same address, an echo, noise). Costs no time of its own: the next
    // request waits for the turnaround anyway.
    // The bytes are left for the caller to let go.
    bool BytesFollowAnswer();
    // The watch behind the last answer of a job or a cycle, where no next
    // request's wire time covers it: whether a byte arrives before the
    // turnaround, the wire time of the last request and of one receive-FIFO
    // piece (16 characters) and the adapter's latency timer have passed
    // since that answer's last byte. Between exchanges the same span is
    // watched by the next request itself (stale bytes before it, early bytes
    // during it).
    bool BytesFollowExchange();
    // The wire time of n characters at the line settings (start bit, data
    // bits, parity, stop bits).
    std::chrono::steady_clock::duration WireTime(std::size_t n) const;

    // Throws away bytes that arrived before the next request and returns them.
    std::string DiscardInput();
    // Reads and throws away whatever arrives until the line has carried no
    // byte for nQuietMs, and returns what it threw away (empty: the line was
    // quiet). A line that never falls quiet (noise, a streaming device) is
    // given up after four quiet periods and the wire time of two answers of
    // 1024 bytes, so this never holds a job for ever.
    std::string LetLineGoQuiet(int nQuietMs);

    // A device path that replaces the port-number mapping at the next Open
    // (the CLI's --device, tests). Empty: use the mapping.
    void SetDeviceOverride(const std::string& path) { m_strDeviceOverride = path; }
    const std::string& GetDeviceOverride() const { return m_strDeviceOverride; }

    // Whether a Read or Write since the last Open failed on the device itself
    // (a hang-up, an unplugged adapter, an I/O error; a time-out is none),
    // and the system's text for it. A job that sees it closes the port.
    bool HasLinkFailed() const { return m_bLinkFailed; }
    const std::string& GetLinkError() const { return m_strLinkError; }
    // Telegram tries written, and bytes thrown away by DiscardInput and
    // LetLineGoQuiet, since construction: for a monitor's statistics.
    long long GetWrites() const { return m_nWrites; }
    long long GetDiscardedBytes() const { return m_nDiscardedBytes; }

    bool IsOpen() const { return m_device.IsOpen(); }
    // read() calls on the device so far (each fetches up to 1024 bytes).
    long long GetReadCalls() const { return m_device.GetReadCalls(); }
    // The device path of the last Open, and why it failed (empty when it did not).
    const std::string& GetDevicePath() const { return m_strDevicePath; }
    const std::string& GetLastError() const { return m_strLastError; }
    // Whether the last Open failed because another program holds the port,
    // and which process that is (0: not known).
    bool IsInUse() const { return m_bInUse; }
    long GetHolderPid() const { return m_nHolderPid; }
    int16_t GetTimeout() const { return m_nTimeout; }
    // The driver's low-latency mode and the adapter's latency timer (ms, -1:
    // none) after the last Open that succeeded.
    const platform::LowLatencySwitch& GetLowLatency() const { return m_device.GetLowLatency(); }
    int GetLatencyTimerMs() const { return m_device.GetLatencyTimerMs(); }

private:
    // Bytes came from the line at lastByte: the turnaround runs from there.
    void AfterBytes(std::chrono::steady_clock::time_point lastByte);
    void NoteLinkFailure();

    platform::SerialDevice m_device;  // stands for the original device handle
    int16_t m_nPort = 0;
    int32_t m_nBaudrate = 0;
    uint8_t m_nParity = 0;
    uint8_t m_nDataBits = 0;
    uint8_t m_nStopBits = 0;
    int16_t m_nTimeout = 0;
    int m_nLastReadBytes = 0;
    bool m_bLinkFailed = false;
    std::string m_strLinkError;
    long long m_nWrites = 0;
    long long m_nDiscardedBytes = 0;
    bool m_bInUse = false;
    long m_nHolderPid = 0;
    std::chrono::steady_clock::time_point m_tTurnaroundEnd{};
    std::chrono::steady_clock::time_point m_tRequestOnWire{};
    std::size_t m_nLastRequestBytes = 0;
    std::string m_strLastEarly;

    std::string m_strDeviceOverride;
    std::string m_strDevicePath;
    std::string m_strLastError;
};
