#pragma once

#include <chrono>
#include <string>

#include "monitor/MonitorTypes.h"
#include "platform/AppendFile.h"

// The recording of a monitor to one CSV file (platform/Csv.h): the header
// "time,address,Z01 actual,Z01 set,..." up to the zone columns, then one
// line per unit and cycle, the time in ISO 8601 local time with
// milliseconds and the UTC offset, empty fields where the unit gave no value
// or has no such zone.
//
// Every line goes out whole or not at all (platform::CAppendFile). A write that fails (a full disk, a
// lost folder, a closed pipe) takes back what it wrote of the line (the
// file is cut to its last whole line), stops the recording and keeps the
// reason; the file is then closed and valid. fsync at most every 10 s, and
// at the end. One thread at a time.
class CCsvRecorder
{
public:
    static constexpr std::chrono::seconds kSyncInterval{10};

    CCsvRecorder() = default;
    CCsvRecorder(const CCsvRecorder&) = delete;
    CCsvRecorder& operator=(const CCsvRecorder&) = delete;
    ~CCsvRecorder();  // Close()

    // Opens path for a new recording. bAppend false: the file must not exist
    // (never overwritten). bAppend true: lines go to its end; when it already
    // holds a header of this form, its zone columns are kept, and a new or
    // empty file gets a header. A last line without its line end (what a
    // crash leaves) is cut off first, and error then tells of it though the
    // result is true. False, with the reason in error, when the file cannot
    // be had.
    bool Open(const std::string& path, bool bAppend, std::string& error);
    // Records to standard output (fd 1, for "-"), which the caller owns: no
    // fsync, not closed at the end. False for any other descriptor.
    bool OpenDescriptor(int fd, const std::string& name);

    // The zone columns of the header, 1..128. Only before the first line:
    // once the header is out, later calls change nothing. A recording
    // whose columns were never set uses the longest row of its first line.
    void SetZoneColumns(int columns);
    int GetZoneColumns() const { return m_nColumns; }

    // Writes the header when it is not out yet, then the sample's line.
    // Zones beyond the columns are left out. False when the recording is not
    // open or has just stopped on an error (see GetError()).
    bool Write(const MonitorSample& sample);

    // Syncs (for a file) and closes. False, with the reason in GetError(),
    // when the sync or the close failed: the last lines may not be on the
    // disk. Harmless (true) when not open.
    bool Close();

    bool IsOpen() const { return m_file.IsOpen(); }
    // Why the recording stopped; empty while it runs or after a plain Close.
    const std::string& GetError() const { return m_strError; }
    const std::string& GetPath() const { return m_strPath; }
    long long GetLines() const { return m_nLines; }

    static std::string HeaderLine(int columns);
    static std::string SampleLine(const MonitorSample& sample, int columns);

private:
    bool WriteLine(const std::string& line);
    void Fail(const std::string& what, const std::string& reason);

    platform::CAppendFile m_file;
    bool m_bOwnsFd = false;
    bool m_bHeaderOut = false;
    int m_nColumns = 0;
    long long m_nLines = 0;
    std::chrono::steady_clock::time_point m_tLastSync{};
    std::string m_strPath;
    std::string m_strError;
};
