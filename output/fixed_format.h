#pragma once

// The text of printf's "%f" (six decimals) as the legacy Windows C runtime
// writes it, the same on every platform:
// - a leading '-' whenever the sign bit is set (also for -0.0, for negative
//   values that round to zero, for -infinity and for NaNs with the bit set);
// - a finite value is rounded twice: first its exact decimal expansion to 17
//   significant digits, half-up; then that digit string to six decimals by
//   its next digit alone ('5' or above rounds away from zero). Every digit
//   after the 17th significant one is '0';
// - zero and the denormals print as zero;
// - infinity is "1.#INF00", the x86 "indefinite" NaN (bit pattern
//   0xFFF8000000000000, what 0/0 gives) "-1.#IND00", any other quiet NaN
//   "1.#QNAN0", a signalling NaN "1.#SNAN0".
// No locale is read and nothing is allocated.

#include <cstddef>
#include <cstdint>

namespace lumerca::output {

// The longest text: '-', the 309 integer digits of the largest double, '.' and
// six decimals.
inline constexpr std::size_t kFixedMaxChars = 317;

// Writes the "%f" text of `value` at `out`, which has room for kFixedMaxChars
// bytes, and returns the end of what it wrote (no NUL is added).
char* FormatFixed(char* out, double value);

namespace detail {

// A product of two 64-bit numbers. MultiplyWide uses the compiler's 128-bit
// integers where it has them and MultiplyWidePortable otherwise (the 32-bit
// Windows build); both are here so that each can be checked everywhere.
struct Wide {
  std::uint64_t high;
  std::uint64_t low;
};
Wide MultiplyWide(std::uint64_t a, std::uint64_t b);
Wide MultiplyWidePortable(std::uint64_t a, std::uint64_t b);

}  // namespace detail
}  // namespace lumerca::output
