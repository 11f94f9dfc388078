#pragma once

// The ANSI code page that every name is normalised in: which bytes lead a
// double-byte character, and the code page's own upper-casing. Nothing here
// depends on the C runtime's locale.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumerca::platform {

class CodePage {
public:
  // `single_upper` maps every byte that is a character of its own to its
  // upper case; `double_upper` (double-byte code pages only, 65536 entries)
  // maps lead << 8 | trail the same way. Entries for characters without an
  // upper case in the code page hold the character itself.
  CodePage(unsigned id, bool multi_byte, const std::array<bool, 256>& lead_bytes,
           const std::array<unsigned char, 256>& single_upper,
           std::vector<std::uint16_t> double_upper);

  // A code page that has no lead bytes and whose upper-casing changes only the
  // ASCII letters 'a' to 'z': what is left when the tables of `id` cannot be
  // had from the system.
  static std::unique_ptr<CodePage> AsciiOnly(unsigned id, bool multi_byte);

  // The tables of a code page with the given lead bytes, asking
  // `upper(char* bytes, int size)` about every character beyond ASCII (one
  // byte, or a lead byte and a trail byte): it rewrites the bytes with the
  // character's upper case and returns true, or returns false when the
  // character stays as it is.
  template <typename Upper>
  static std::unique_ptr<CodePage> FromUpperCasing(unsigned id, bool multi_byte,
                                                   const std::array<bool, 256>& lead_bytes,
                                                   Upper upper);

  // The code page `id` with its tables, built once per process; null when the
  // code page is not supported here (elsewhere than on Windows: the code pages
  // listed for --codepage and 437 and 850; on Windows: every single- or
  // double-byte code page the system has). Safe to call from several threads.
  // Throws std::bad_alloc.
  static const CodePage* Find(unsigned id);

  unsigned Id() const noexcept { return id_; }

  // The code page's characters can be longer than one byte.
  bool IsMultiByte() const noexcept { return multi_byte_; }

  // `byte` begins a double-byte character.
  bool IsLeadByte(unsigned char byte) const noexcept { return lead_[byte]; }

  // Upper-cases `text` character by character: a lead byte and the byte after
  // it are one character. A character changes only when its simple upper case
  // is a character of this code page of the same byte length; ASCII changes
  // only in 'a' to 'z'. A lead byte at the very end stays as it is.
  void ToUpper(std::string& text) const noexcept {
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (lead_[byte]) {
        if (i + 1 < size && !double_upper_.empty()) {
          const auto trail = static_cast<unsigned char>(text[i + 1]);
          const std::uint16_t upper = double_upper_[static_cast<std::size_t>(byte) << 8 | trail];
          text[i] = static_cast<char>(upper >> 8);
          text[i + 1] = static_cast<char>(upper & 0xFF);
        }
        i += 2;
      } else {
        text[i] = static_cast<char>(single_upper_[byte]);
        i += 1;
      }
    }
  }

private:
  unsigned id_;
  bool multi_byte_;
  std::array<bool, 256> lead_;
  std::array<unsigned char, 256> single_upper_;
  std::vector<std::uint16_t> double_upper_;
};

inline CodePage::CodePage(unsigned id, bool multi_byte, const std::array<bool, 256>& lead_bytes,
                          const std::array<unsigned char, 256>& single_upper,
                          std::vector<std::uint16_t> double_upper)
    : id_(id),
      multi_byte_(multi_byte),
      lead_(lead_bytes),
      single_upper_(single_upper),
      double_upper_(std::move(double_upper)) {}

template <typename Upper>
std::unique_ptr<CodePage> CodePage::FromUpperCasing(unsigned id, bool multi_byte,
                                                    const std::array<bool, 256>& lead_bytes,
                                                    Upper upper) {
  std::array<unsigned char, 256> single_upper{};
  for (unsigned b = 0; b < 256; ++b) {
    single_upper[b] = static_cast<unsigned char>(b);
    if (b < 0x80) {
      if (b >= 'a' && b <= 'z') single_upper[b] = static_cast<unsigned char>(b - ('a' - 'A'));
      continue;
    }
    if (lead_bytes[b]) continue;
    char bytes[1] = {static_cast<char>(b)};
    if (upper(bytes, 1)) single_upper[b] = static_cast<unsigned char>(bytes[0]);
  }

  std::vector<std::uint16_t> double_upper;
  bool has_leads = false;
  for (bool is_lead : lead_bytes) has_leads = has_leads || is_lead;
  if (has_leads) {
    double_upper.resize(65536);
    for (std::size_t c = 0; c < double_upper.size(); ++c) {
      double_upper[c] = static_cast<std::uint16_t>(c);
    }
    for (unsigned first = 0; first < 256; ++first) {
      if (!lead_bytes[first]) continue;
      for (unsigned trail = 1; trail < 256; ++trail) {
        char bytes[2] = {static_cast<char>(first), static_cast<char>(trail)};
        if (!upper(bytes, 2)) continue;
        double_upper[first << 8 | trail] = static_cast<std::uint16_t>(
            static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]));
      }
    }
  }
  return std::make_unique<CodePage>(id, multi_byte, lead_bytes, single_upper, std::move(double_upper));
}

inline std::unique_ptr<CodePage> CodePage::AsciiOnly(unsigned id, bool multi_byte) {
  std::array<bool, 256> lead{};
  std::array<unsigned char, 256> upper{};
  for (unsigned b = 0; b < 256; ++b) {
    upper[b] = static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - ('a' - 'A') : b);
  }
  return std::make_unique<CodePage>(id, multi_byte, lead, upper, std::vector<std::uint16_t>());
}

// The process's ANSI code page: on Windows the system's (GetACP), elsewhere
// the library's setting (lumerca::SetAnsiCodePage, 1252 unless changed). A code
// page whose tables cannot be had from the system acts as AsciiOnly. Throws
// std::bad_alloc only.
const CodePage& CurrentCodePage();

// `bytes` decoded from the Windows code page `code_page` to UTF-8, for views
// of a marker's texts (JSON, SVG, reports). A byte sequence that the code page
// does not map becomes U+FFFD (see below for Windows); a code page that is not known here is decoded
// as Latin-1 (each byte the code point of its value). Elsewhere than on
// Windows the code page's tables are ICU's; on Windows they are the system's,
// which map a few bytes (0x81 in 1252, say) that ICU leaves unmapped, and put
// the code page's default character where they have no mapping.
std::string AnsiToUtf8(std::string_view bytes, unsigned code_page);

#ifndef _WIN32
// The code pages that CodePage::Find knows here (on Windows: any the system has).
std::vector<unsigned> KnownCodePages();

// Each byte as the character of its value (what AnsiToUtf8 gives for a code
// page that is not known).
std::string Latin1ToUtf8(std::string_view bytes);
#endif

}  // namespace lumerca::platform
