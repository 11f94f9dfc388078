#pragma once

// The exit statuses of lumerca-import.

namespace lumerca::tools {

constexpr int kAllImported = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kSomeWithoutPieces = 3;
// A run stopped by a signal ends with 128 + the signal's number (130 for
// Ctrl-C), as a shell reports a process that the signal ended.
constexpr int kStoppedBySignal = 128;

}  // namespace lumerca::tools
