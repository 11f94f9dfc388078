#pragma once

// Every name that leaves the library is reduced to upper-case letters, digits,
// space, '-', '_', five further single-byte characters, and the non-ASCII
// characters of a double-byte code page.

#include <cstdint>
#include <string>
#include <string_view>

namespace lumerca::platform {
class CodePage;
}

namespace lumerca::output {

// Normalises an 8-bit name in the process's ANSI code page. The result has as
// many bytes as the input (up to its first NUL): every character that is not a
// name character becomes '-' (a trail byte is never examined or changed), then
// the name is upper-cased in the code page.
std::string NormalizeName(std::string_view name);
std::string NormalizeName(std::string_view name, const platform::CodePage& code_page);

// `byte` is 0x80 or above and the code page's characters can be longer than
// one byte.
bool IsMultiByteHighByte(unsigned char byte, const platform::CodePage& code_page);

// The single-byte character `byte` may stay in a name: NUL, a lead byte, a
// high byte of a multi-byte code page, ' ', '-', '_', 'A'-'Z', '0'-'9', and the
// bytes 0x80, 0x8E, 0x99, 0x9A and 0xA5.
bool IsNameChar(unsigned char byte, const platform::CodePage& code_page);

}  // namespace lumerca::output
