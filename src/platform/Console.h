#pragma once

namespace platform {

// The descriptor of standard output, for writers that take one.
inline constexpr int kStandardOutputFd = 1;

// True when standard error is a terminal (a console window on Windows), not
// a file or a pipe: the place for figures meant for a person.
bool StderrIsTerminal();

}  // namespace platform
