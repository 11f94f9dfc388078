#pragma once

// The rules of the legacy Windows C runtime's "%f" done literally, on the
// exact decimal expansion of a double: slow, and plain enough to check by
// reading. The tests and the fuzz target compare FormatFixed with it.

#include <string>

namespace lumerca::testing {

// - '-' when the sign bit is set;
// - infinity "1.#INF00"; the bit pattern 0xFFF8000000000000 "1.#IND00"; other
//   NaNs with the quiet bit "1.#QNAN0", without it "1.#SNAN0";
// - zero and denormals "0.000000";
// - otherwise the exact expansion is rounded half-up to 17 significant digits
//   (the digits after them become '0'), then to six decimals by the digit at
//   10^-7 alone.
std::string ReferenceFixed(double value);

}  // namespace lumerca::testing
