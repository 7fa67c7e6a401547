#pragma once

#include <optional>
#include <string>

// How a settings or recipe file is read whole and replaced, per operating
// system. Used by ProfileFile; the parsing there never touches the disk.
namespace platform {

// The whole file; empty when it does not exist, nullopt when it exists but
// cannot be read.
std::optional<std::string> LoadWholeFile(const std::string& path);

// A file about to be replaced, as it stands on disk.
struct FileToReplace
{
    std::string path;   // the file itself: a symbolic link is followed, and stays
    bool bExists = false;
    unsigned nMode = 0; // POSIX: the permissions and owner a replacement keeps
    long nOwner = -1;
    long nGroup = -1;
};

// Fills f for path. False when the file exists but is no regular file or may
// not be written, or does not exist and its directory takes no new files.
bool InspectFileToReplace(const std::string& path, FileToReplace& f);

// Writes text to a new sibling, flushes it to the disk and moves it over the
// file, so that readers and a crash at any moment see the old file or the
// new one, whole; the sibling is removed when anything fails. bInPlace: where
// the directory refuses a sibling, the existing file is rewritten instead
// (not atomic). bFailBeforeMove (tests) fails just before the move.
bool ReplaceFileContents(const FileToReplace& f, const std::string& text, bool bInPlace, bool bFailBeforeMove);

}  // namespace platform
