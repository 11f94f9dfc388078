#pragma once

// The conversion run of lumerca-import: every file of the command line (and
// below its folders) converted, `jobs` at a time, with progress on standard
// error, a summary, and the CSV report.

#include "tools/options.h"

namespace lumerca::tools {

// Returns the exit status: kAllImported, kSomeFailed, kSomeWithoutPieces, or
// kStoppedBySignal + the signal's number when a stop signal ended the run.
int RunConversions(const Options& options);

}  // namespace lumerca::tools
