#include "tools/escape.h"

#include <cstdio>

namespace lumerca::tools {
namespace {

void Hex(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  out += text;
}

#if !defined(_WIN32)
// The length of the UTF-8 sequence at the start of `text` (well formed: no
// overlong forms, no surrogates, nothing past U+10FFFF); 0 when there is
// none.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}
#endif

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else Hex(out, c);
      ++i;
      continue;
    }
#if defined(_WIN32)
    // Names are in the ANSI code page here: its letters stay as they are.
    out.push_back(static_cast<char>(c));
    ++i;
#else
    const std::size_t length = c < 0x80 ? 1 : Utf8Length(text.substr(i));
    // U+0080 to U+009F are the C1 controls (C2 80 to C2 9F).
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1) {
      for (std::size_t k = 0; k < (c1 ? 2u : 1u); ++k) Hex(out, static_cast<unsigned char>(text[i + k]));
      i += c1 ? 2 : 1;
    } else {
      out.append(text, i, length);
      i += length;
    }
#endif
  }
  return out;
}

}  // namespace lumerca::tools
