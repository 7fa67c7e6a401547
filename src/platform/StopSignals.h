#pragma once

#include <initializer_list>

namespace platform {

class AutoResetEvent;

// The stop signals: SIGINT, SIGTERM and SIGHUP end a job cleanly instead of
// killing the process, which would leave a pseudo-terminal exclusive
// (TIOCEXCL outlives us while its other end is open) and a lock file behind.
//
// Contract. InstallStopSignals() installs one handler for the three signals
// (without SA_RESTART, so a blocking call returns EINTR; the serial layer
// retries those within its own deadlines). The handler does only
// async-signal-safe things: it records the number of the FIRST stop signal in
// a lock-free atomic (later ones do not overwrite it), raises every event
// registered with it (AutoResetEvent::Set is a lock-free atomic store; for
// the workers' ScanStopEvent() and TransferStopEvent()), and writes one byte
// to a non-blocking self-pipe whose read end StopSignalFd() gives, for an
// event loop (a QSocketNotifier). Nothing is cleaned up in the handler: the
// caller polls StopSignalNumber() (or an event, or the pipe), ends its job,
// closes the port (which clears the exclusive flag and removes the lock
// file), leaves no partial file, and exits with StopSignalExitStatus(),
// 128 + the signal's number. Calling InstallStopSignals() again only adds
// events. Each event stays registered until ResetStopSignals(), which
// restores the previous dispositions, forgets the signal received and the
// events, and closes the pipe (tests, and the end of a run).
//
// On Windows the console's control events stand for the signals
// (SetConsoleCtrlHandler): Ctrl+C and Ctrl+Break are SIGINT (exit status
// 130, as on Linux), closing the console, logging off and shutting down are
// SIGHUP. The numbers are the POSIX ones either way. There is no pipe
// (StopSignalFd() is -1); a closed console waits in the handler while the
// program ends its job, as long as Windows lets it (about five seconds).
void InstallStopSignals(std::initializer_list<AutoResetEvent*> events = {});
void ResetStopSignals();

// The first stop signal received since InstallStopSignals (or the last
// reset); 0 while none came.
int StopSignalNumber();
inline bool StopSignalReceived() { return StopSignalNumber() != 0; }
// 128 + StopSignalNumber(), or 0 while no stop signal came.
int StopSignalExitStatus();
// The read end of the self-pipe: readable once a stop signal came (each
// signal writes one byte; read them away to wait for the next). -1 while
// not installed.
int StopSignalFd();
// Reads away the bytes waiting in the pipe; nothing without one.
void DrainStopSignalFd();

// While on, a write to a pipe whose reader has gone fails (EPIPE) instead of
// ending the process (SIGPIPE), so a command can close its port and say
// what happened. Off restores what was there before. Nothing on Windows,
// where such a write always just fails.
void IgnoreBrokenPipe(bool on);

}  // namespace platform
