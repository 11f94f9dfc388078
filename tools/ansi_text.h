#pragma once

// Texts of a marker file (8-bit, in the ANSI code page) as UTF-8 for JSON and
// SVG output.

#include "output/model_index.h"
#include "platform/codepage.h"

#include <string>
#include <string_view>

namespace lumerca::tools {

using platform::AnsiToUtf8;

// The text of a fixed-size text field: its bytes up to the first NUL, as the
// writers take it.
using output::FieldText;

}  // namespace lumerca::tools
