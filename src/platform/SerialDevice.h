#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// A POSIX serial device (termios), protocol-blind. Opened exclusively, raw,
// parity generated but never checked, no flow control, DTR and RTS off.
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
    bool IsOpen() const { return m_fd >= 0; }

    // Writes all bytes (retrying short writes); false on an error.
    bool Write(const char* data, std::size_t size);
    // Waits at most timeoutMs for one byte. A hang-up (unplugged adapter, the
    // other end of a pseudo-terminal closed) is an Error, reported at once.
    ReadResult ReadByte(char& byte, int timeoutMs);
    // Discards bytes received but not yet read and returns them (bytes the
    // driver flushed without handing them over are not among them).
    std::string DiscardInput();

    SerialError GetError() const { return m_error; }
    const std::string& GetErrorText() const { return m_strErrorText; }

private:
    void Fail(SerialError error, const std::string& what, int err);

    int m_fd = -1;
    SerialError m_error = SerialError::None;
    std::string m_strErrorText;
};

// True when the path can be opened exclusively for reading and writing now;
// the device is closed again at once.
bool ProbeSerialDevice(const std::string& path);

}  // namespace platform
