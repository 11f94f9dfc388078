#pragma once

// Numbers formatted per second: "%f" by std::to_chars (fixed, six decimals:
// how the output files were formatted before they followed the Windows
// runtime's rules, kept here only as the baseline) and by FormatFixed, on the
// same values.

#include <cstdint>

namespace lumerca::bench {

void RunNumberFormatting(std::uint64_t seed);

}  // namespace lumerca::bench
