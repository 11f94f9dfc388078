// Name normalisation.
//
// As a procedure, a name is normalised by replacing '.', '/' and '#' by '-',
// then scanning it character by character and, at each rejected character,
// replacing every occurrence of that character in the whole name by '-', and
// last upper-casing it. All replacements are character-wise: a lead byte and
// its trail byte are one character, and a trail byte is never replaced.
//
// Replacing single-byte characters by '-' (itself neither a lead byte nor
// rejected) moves no character boundary, so the scan and every replacement see
// the same characters. A single-byte character therefore ends up as '-'
// exactly when it is rejected, and stays otherwise: one pass over the name
// gives the result of the procedure, in time linear in its length. ('.', '/'
// and '#' are rejected characters, so the first step is part of that pass.)

#include "output/normalize.h"

#include "platform/codepage.h"

#include <algorithm>
#include <array>

namespace lumerca::output {
namespace {

// The single-byte characters that are name characters in every code page.
constexpr std::array<bool, 256> MakeNameBytes() {
  std::array<bool, 256> bytes{};
  bytes[0] = true;
  bytes[' '] = bytes['-'] = bytes['_'] = true;
  for (unsigned c = 'A'; c <= 'Z'; ++c) bytes[c] = true;
  for (unsigned c = '0'; c <= '9'; ++c) bytes[c] = true;
  // The capitals Ç, Ä, Ö, Ü and Ñ of the OEM code pages 437 and 850.
  bytes[0x80] = bytes[0x8E] = bytes[0x99] = bytes[0x9A] = bytes[0xA5] = true;
  return bytes;
}
constexpr std::array<bool, 256> kNameBytes = MakeNameBytes();

}  // namespace

bool IsMultiByteHighByte(unsigned char byte, const platform::CodePage& code_page) {
  return byte >= 0x80 && code_page.IsMultiByte();
}

bool IsNameChar(unsigned char byte, const platform::CodePage& code_page) {
  return code_page.IsLeadByte(byte) || IsMultiByteHighByte(byte, code_page) || kNameBytes[byte];
}

std::string NormalizeName(std::string_view name, const platform::CodePage& code_page) {
  std::string result(name.substr(0, std::min(name.find('\0'), name.size())));

  const bool multi_byte = code_page.IsMultiByte();
  const std::size_t size = result.size();
  std::size_t i = 0;
  while (i < size) {
    const auto byte = static_cast<unsigned char>(result[i]);
    if (code_page.IsLeadByte(byte)) {
      i += 2;  // the trail byte belongs to the character
      continue;
    }
    // IsNameChar, knowing that `byte` is no lead byte.
    if (!kNameBytes[byte] && !(multi_byte && byte >= 0x80)) result[i] = '-';
    i += 1;
  }

  code_page.ToUpper(result);
  return result;
}

std::string NormalizeName(std::string_view name) {
  return NormalizeName(name, platform::CurrentCodePage());
}

}  // namespace lumerca::output
