#pragma once

// What the command-line tool needs of its process and its console, for each
// system: system_posix.cpp and system_win.cpp.

#include <cstddef>

namespace lumerca::tools {

// The processors this process may use (at least 1).
unsigned ProcessorsAvailable();

// Standard error is a terminal (a console on Windows), and its width less one
// column (a line as wide would wrap, and \r would return to its second half);
// 79 when the width cannot be had.
bool ErrorIsTerminal();
std::size_t TerminalColumns();

// Ctrl-C (SIGINT), SIGTERM, SIGHUP and SIGPIPE ask a run to stop: no
// conversion starts after them, the ones running finish. On Windows Ctrl-C
// counts as SIGINT and Ctrl-Break or closing the console as SIGTERM.
void CatchStopSignals();

// The number of the first stop signal caught, 0 while none was. A signal
// that has come but not yet reached its handler counts too.
int StopSignal();

// Between these two calls, threads that the calling thread starts do not take
// the stop signals, so that the signals reach the calling thread (on Windows
// the console's handler has a thread of its own: nothing to do).
void KeepStopSignalsFromNewThreads();
void LetNewThreadsTakeStopSignals();

}  // namespace lumerca::tools
