#pragma once

#include <string>

namespace platform {

// The directory that holds GLOBAL.INI, CONFIG.INI and the language files, in
// this order:
//   1. the one given to SetProgramDirectory (the CLI's --home, tests);
//   2. the one named by VORLENT_HOME when it is set and not empty;
//   3. the directory of the running executable when it holds GLOBAL.INI (a
//      build tree, an unpacked copy);
//   4. the user's own directory, DefaultUserProgramDirectory() (an
//      installed copy, whose executable directory is not writable). The
//      first call of a process creates it and copies into it every shipped
//      file (ShippedDataDirectory) that it lacks; a file already there is
//      never replaced.
// No trailing slash. Never empty: when nothing can be created the path is
// still returned, and the program then finds no language file there.
std::string ProgramDirectory();

// Which rule of ProgramDirectory chose the directory.
enum class ProgramDirSource
{
    Override,
    Environment,
    Executable,
    User,
};
ProgramDirSource ProgramDirectorySource();
// A few words for --version: "--home", "VORLENT_HOME", "beside the program",
// "the user's own".
const char* ProgramDirSourceName(ProgramDirSource source);

// Overrides both for the rest of the process (the CLI's --home). Empty
// restores the default rule.
void SetProgramDirectory(const std::string& dir);

// dir + "/" + name.
std::string ProgramFile(const std::string& name);

// The user's own program directory on this system: $XDG_CONFIG_HOME/vorlent,
// or ~/.config/vorlent when that variable is unset or not absolute; on
// Windows %APPDATA%\Vorlent. Empty when there is no home to put it in.
std::string DefaultUserProgramDirectory();
// Where the user's records go (the change record): $XDG_STATE_HOME/vorlent,
// or ~/.local/state/vorlent; on Windows %LOCALAPPDATA%\Vorlent. Empty when
// there is no home to put it in. Not created here.
std::string DefaultUserDataDirectory();

// The directory of the running executable ("." without /proc).
std::string ExecutableDirectory();

// Where an installation keeps the files it ships: <exe dir>/../share/vorlent
// when that exists (any prefix, a DESTDIR copy), else the data directory the
// program was built for; on Windows <exe dir>/share/vorlent. Empty when
// none exists.
std::string ShippedDataDirectory();

// The program's folder under one of the user's base directories: xdgValue
// (the base directory variable's value) when it is absolute, else
// home + "/" + underHome; then "/vorlent". No trailing slash; empty when
// neither is usable.
std::string UserBaseDirectory(const std::string& xdgValue, const std::string& home, const std::string& underHome);

// Rule 4 for a given environment: UserBaseDirectory(xdgConfigHome, home,
// ".config").
std::string UserProgramDirectory(const std::string& xdgConfigHome, const std::string& home);

// mkdir -p, mode 0700 for every directory it creates: a user's settings and
// records are nobody else's business. False with a reason when a part
// cannot be created or dir is no directory in the end.
bool MakeDirectories(const std::string& dir, std::string& error);

// Copies source to target unless target exists (or comes to exist
// meanwhile): the user's file is never replaced, and a half-written copy
// never carries the target's name. False with a reason on failure.
bool CopyFileIfMissing(const std::string& source, const std::string& target, std::string& error);

// Creates dir (and its parents, mode 0700 for what it creates) and copies
// every regular file of shippedDir that dir lacks. A file present in dir,
// whatever its content, is left alone; a copy appears whole or not at all.
// False with a reason when dir cannot be created or a copy fails; the files
// that could be copied are there.
bool FillUserDirectory(const std::string& dir, const std::string& shippedDir, std::string& error);

}  // namespace platform
