#pragma once

// Every name that leaves the library is reduced to upper-case letters, digits,
// space, '-', '_', five further single-byte characters, and the non-ASCII
// characters of a double-byte code page.

#include <cstdint>
#include <string>
#include <string_view>

namespace lumerca {

namespace platform {
class CodePage;
}

// Normalises an 8-bit name in the process's ANSI code page. The result has as
// many bytes as the input (up to its first NUL).
std::string NormalizeName(std::string_view name);
std::string NormalizeName(std::string_view name, const platform::CodePage& code_page);

}  // namespace lumerca
