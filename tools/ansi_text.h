#pragma once

// Texts of a marker file (8-bit, in the ANSI code page) as UTF-8 for JSON and
// SVG output.

#include <string>
#include <string_view>

namespace lumerca::tools {

// `bytes` decoded from the Windows code page `code_page` (874, 932, 936, 949,
// 950, 1250 to 1258, 437, 850) with ICU. A byte sequence that the code page
// does not map becomes U+FFFD. A code page that ICU does not know is decoded
// as Latin-1 (each byte the code point of its value).
std::string AnsiToUtf8(std::string_view bytes, unsigned code_page);

// The text of a fixed-size text field: its bytes up to the first NUL.
template <std::size_t N>
std::string_view FieldBytes(const char (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return std::string_view(field, length);
}

}  // namespace lumerca::tools
