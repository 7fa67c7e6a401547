#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A file that grows by whole lines only: the change record and the recording
// of live values. A line either reaches the file whole or not at all, so a
// full disk or a size limit never leaves half a line for the next one to be
// glued to; two programs appending at the same time never interleave their
// lines. One object per thread.
namespace platform {

class CAppendFile
{
public:
    enum class Create
    {
        IfMissing,  // append to the file, created when it does not exist
        New,        // the file must not exist yet: it is created
    };

    CAppendFile() = default;
    ~CAppendFile();  // closes without a sync
    CAppendFile(const CAppendFile&) = delete;
    CAppendFile& operator=(const CAppendFile&) = delete;

    // Opens path for appending. False with a reason in error (the system's
    // text; "the file exists already" for Create::New on an existing name).
    bool Open(const std::string& path, Create create, std::string& error);
    // Appends to the program's standard output, which stays open at Close.
    bool OpenStandardOutput();
    bool IsOpen() const { return m_handle >= 0; }
    // Whether the file is a plain file on a disk (not a pipe or a device):
    // only such a file can be cut back, read from or synced.
    bool IsRegular() const { return m_bRegular; }

    // The first bytes of the file, up to max, read while the file is open
    // for appending. False with error when it cannot be read.
    bool ReadHead(std::size_t max, std::string& text, std::string& error) const;

    // Cuts a last line that has no line end (what a crash or a full disk
    // leaves) back to the end of the line before it. cut receives the
    // fragment that was removed, empty when the file ended whole. Harmless
    // for what is not a regular file. False with error when the file cannot
    // be read or cut.
    bool RepairLastLine(std::string& cut, std::string& error);

    // Appends line (with its line end) whole: one write under an exclusive
    // lock, and when it goes out short the file is cut back to where it
    // ended before. False with error when the line is not in the file.
    bool AppendLine(std::string_view line, std::string& error);

    // Appends line as AppendLine does, but only to an empty file (a header,
    // written once when two programs open a new file at the same time).
    // True when the file already held something.
    bool AppendFirstLine(std::string_view line, std::string& error);

    // Flushes what was appended to the disk. Harmless for a pipe or a device.
    bool Sync(std::string& error);
    // Closes (standard output is only let go). False with error when the
    // system reports that the close failed.
    bool Close(std::string& error);

private:
    bool Append(std::string_view line, bool bOnlyIfEmpty, std::string& error);

    std::intptr_t m_handle = -1;
    bool m_bOwned = false;
    bool m_bRegular = false;
};

// The scan behind a repair of the last line, the same on every system: reads
// backwards from size through readAt(start, buffer, length), which returns
// the bytes read (0 or less: it failed, and has said why), to the last line
// end. keep: the offset just behind it (0 when there is none); tail: the
// bytes after it. False when a read failed.
bool FindLastLineEnd(long long size, const std::function<long long(long long, char*, std::size_t)>& readAt,
                     long long& keep, std::string& tail);

}  // namespace platform
