#pragma once

// Texts of a marker file (8-bit, in the ANSI code page) as UTF-8 for JSON and
// SVG output.

#include "platform/codepage.h"

#include <string>
#include <string_view>

namespace lumerca::tools {

using platform::AnsiToUtf8;

// The text of a fixed-size text field: its bytes up to the first NUL.
template <std::size_t N>
std::string_view FieldBytes(const char (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return std::string_view(field, length);
}

}  // namespace lumerca::tools
