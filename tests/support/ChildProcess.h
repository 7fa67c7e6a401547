#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Starts the program argv[0] with argv, its standard output written into
// the file outPath and its standard error into errPath (both created or
// emptied), or onto the descriptor errFd when that is >= 0. The child's
// status is taken by ExitStatusOf.
pid_t SpawnWithOutput(std::vector<std::string> argv, const std::string& outPath, const std::string& errPath,
                      int errFd = -1);

// Waits for the process to end: its exit status, or -1 when a signal ended
// it, so that a death never passes for a status the program chose.
int ExitStatusOf(pid_t pid);
