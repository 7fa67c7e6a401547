#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// The serial device's side of the Linux conventions by which programs keep
// out of each other's devices: UUCP lock files, and a look through /proc for
// processes that follow no convention at all. Used by SerialDevice only.
namespace platform {

// The first existing directory of those set by SetSerialLockDirectories;
// empty when none exists.
std::string LockDirectory();
// The name of the device's lock file in that directory: LCK..ttyUSB0 for
// /dev/ttyUSB0 whatever alias it was opened by, LCK..pts_4 for /dev/pts/4.
std::string LockFileName(const std::string& path);

enum class LockResult { Acquired, WithoutLock, Held };

// Takes the device's lock file for this process. Acquired: lockPath names
// it, ours until ReleaseLock (or exit). WithoutLock: no writable lock
// directory, lockPath empty. Held: owner is the live process that holds it
// (0 when it names none), lockPath empty.
LockResult AcquireLock(const std::string& devicePath, std::string& lockPath, long& owner);
// Removes the lock file when it is still ours and clears lockPath; nothing
// when lockPath is empty.
void ReleaseLock(std::string& lockPath);

// For every device number, another process that has it open; 0 for none and
// for the device number 0.
std::vector<long> OtherHolders(const std::vector<dev_t>& devices);
// ": in use by process 1234", or without a process when pid is 0.
std::string HolderText(long pid);

}  // namespace platform
