#pragma once

#include <cstdint>
#include <string>

// What the file system says about a path, for code that must not include the
// operating system's headers.
namespace platform {

struct FileInfo
{
    bool bExists = false;
    bool bDirectory = false;
    bool bRegular = false;   // a plain file (not a device, pipe or folder)
    bool bReadOnly = false;  // no write permission bit at all: the owner wants it left alone, even by root
    long long nSize = 0;
    std::string error;       // why the path could not be looked at, when it exists but cannot be
};

// Follows symbolic links: a link reports what it points to.
FileInfo InfoOf(const std::string& path);

// The text the system gives for its error number.
std::string SystemErrorText(int error);

// The login name: the session's, else the account's, else $USER; "?" when
// none is known.
std::string LoginName();
// The machine's host name, "?" when unknown.
std::string HostName();

}  // namespace platform
