#pragma once

// A code page as a table file: its lead bytes and upper-casing (what CodePage
// holds) and its decoding to Unicode, byte sequence by byte sequence. Where
// the library cannot ask ICU at run time (the WebAssembly build), the build
// writes one such file per code page from the ICU of the machine that builds
// it (platform/make_codepage_tables.cpp), so that names are normalised and
// texts decoded exactly as the build on that machine does.
//
// The file (integers little-endian):
//   "LMCP", u32 version (1), u32 code page, u8 multi-byte
//   u8[256]      the lead bytes that CodePage uses (1 for a lead byte)
//   u8[256]      the upper case of each single byte
//   u32 n, n x (u16 from, u16 to)   the double-byte characters whose upper
//                case differs (lead << 8 | trail)
//   u16[256]     each byte's character, or kUnmapped (the byte alone is no
//                character: U+FFFD) or kLead (it begins a two-byte sequence)
//   u8 m, m x (u8 lead, u16[256])   for each byte marked kLead the character
//                of it and each trail byte, or kUnmapped (the two bytes are
//                one unmapped sequence: U+FFFD), or kIllegal (the lead byte
//                alone is a bad sequence, U+FFFD, and the trail byte is
//                decoded again)
// A lead byte at the end of the text is a sequence cut short: U+FFFD.

#include "platform/codepage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::platform {

// How a code page decodes to Unicode (every character is one of the Basic
// Multilingual Plane; the three marks are noncharacters, which no code page
// maps to).
class CodePageDecoder {
public:
  static constexpr std::uint16_t kUnmapped = 0xFFFF;
  static constexpr std::uint16_t kLead = 0xFFFE;
  static constexpr std::uint16_t kIllegal = 0xFDD0;

  std::array<std::uint16_t, 256> single{};
  // For each byte marked kLead, its 256 trail bytes.
  std::array<std::unique_ptr<std::array<std::uint16_t, 256>>, 256> pairs;

  // `bytes` as UTF-8.
  std::string ToUtf8(std::string_view bytes) const;
};

struct CodePageTables {
  std::unique_ptr<CodePage> page;
  CodePageDecoder decoder;
};

// The table file of `page`, whose decoding `decode` gives: the UTF-8 text of
// one or two bytes, as ICU decodes them with U+FFFD for each bad sequence.
// Empty when a sequence of one or two bytes decodes to something the file
// cannot hold (a character beyond U+FFFF, several characters, a sequence of
// more than two bytes).
std::string WriteCodePageTables(const CodePage& page,
                                const std::function<std::string(std::string_view)>& decode);

// The tables of a table file; nothing when it is not one.
std::optional<CodePageTables> ReadCodePageTables(std::string_view file);

}  // namespace lumerca::platform
