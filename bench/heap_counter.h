#pragma once

// Counts the bytes of every live allocation made through operator new in this
// program (the library's containers, strings and file image included): the
// current total and its highest value since the last reset. Allocations made
// with malloc directly (ICU, libgsf, the C library's stdio buffers) are not
// counted. Sizes are the allocator's usable sizes, so they include its
// rounding but not its per-block bookkeeping.

#include <cstdint>

namespace lumerca::bench {

std::uint64_t HeapNow() noexcept;
std::uint64_t HeapPeak() noexcept;
// Starts a new peak at the current total.
void ResetHeapPeak() noexcept;

}  // namespace lumerca::bench
