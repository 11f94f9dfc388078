#pragma once

// Decimal texts of floating-point numbers that std::to_chars writes where the
// C++ library has its floating-point overloads, and the C library's exact
// printf conversions elsewhere (the WebAssembly build's C++ library has none):
// both give the same bytes. No locale is read.

#include <cstddef>

namespace lumerca::output {

// Room for any text below, with a NUL.
inline constexpr std::size_t kFloatTextMaxChars = 64;

// `value` in scientific notation with `precision` digits after the point
// (at most 40), correctly rounded, ties to even: "d.ddde+dd", as
// std::to_chars(..., std::chars_format::scientific, precision) writes it.
// Returns the end of the text (no NUL is added).
char* FormatScientific(char* out, double value, int precision);

// The shortest decimal that reads back as the same float, as
// std::to_chars(first, last, value) writes it: of the fixed and the
// scientific notation of its digits the shorter one (the fixed one when
// both are as long), "inf", "-inf", "nan", "-nan" for the values that are not
// finite.
char* FormatShortest(char* out, float value);

namespace detail {

// The same from the C library's printf and strtof, which every platform has;
// here so that each can be checked against std::to_chars where it exists.
char* FormatScientificPortable(char* out, double value, int precision);
char* FormatShortestPortable(char* out, float value);

}  // namespace detail
}  // namespace lumerca::output
