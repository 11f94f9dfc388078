#pragma once

// Ctrl-C (SIGINT) and SIGTERM ask a run to stop: no conversion starts after
// them, the ones running finish.

namespace lumerca::tools {

// Catches both signals from now on.
void CatchStopSignals();

// The number of the first stop signal caught, 0 while none was.
int StopSignal();

}  // namespace lumerca::tools
