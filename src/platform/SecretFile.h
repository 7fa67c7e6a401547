#pragma once

#include <string>

namespace platform {

// Reads a small file that holds a secret (up to 64 KiB) and the permission
// bits it had (0640 and the like), both from one open file, so that the bits
// judged are those of the file read. False with the reason when it cannot be
// read or is no regular file. Windows keeps no such bits: there mode is
// 0600 (0400 for a read-only file), and who may read is its access list's
// business.
bool ReadSecretFile(const std::string& path, std::string& text, unsigned& mode, std::string& error);

}  // namespace platform
