// NormalizeName on arbitrary bytes, in every supported code page (and in the
// ASCII-only stand-ins used when a code page's tables are missing).
//
// Invariants:
// - the result has as many bytes as the input up to its first NUL;
// - it equals the procedure done literally: '.', '/' and '#' replaced by '-',
//   then at each rejected character every occurrence of it replaced by '-'
//   (character-wise: a trail byte is never looked at), then upper-cased;
// - character boundaries stay where they were (upper-casing keeps every
//   character's length);
// - in a single-byte code page every byte of the result is the upper case of a
//   name character: 'A'-'Z', '0'-'9', ' ', '-', '_', 0x80, 0x8E, 0x99, 0x9A,
//   0xA5;
// - a result made only of name characters normalises to itself.

#include "fuzz/fuzz_target.h"
#include "output/normalize.h"
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace lumerca::output;
using namespace lumerca::platform;

namespace {

using lumerca::platform::CodePage;

constexpr unsigned kCodePages[] = {437,  850,  874,  932,  936,  949,  950,  1250,
                                   1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

// The literal procedure's test of a single-byte character.
bool IsNameByte(unsigned char c, const CodePage& page) {
  if (c == 0 || page.IsLeadByte(c)) return true;
  if (c >= 0x80 && page.IsMultiByte()) return true;
  if (c == ' ' || c == '-' || c == '_') return true;
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == 0x80 || c == 0x8E || c == 0x99 || c == 0x9A || c == 0xA5;
}

// Replaces every single-byte character `c` of `s` by '-'; a lead byte and the
// byte after it are one character.
void ReplaceAll(std::string& s, unsigned char c, const CodePage& page) {
  for (std::size_t k = 0; k < s.size();) {
    const auto byte = static_cast<unsigned char>(s[k]);
    if (page.IsLeadByte(byte)) {
      k += 2;
      continue;
    }
    if (byte == c) s[k] = '-';
    k += 1;
  }
}

std::string Literally(std::string_view name, const CodePage& page) {
  std::string s(name.substr(0, std::min(name.find('\0'), name.size())));
  ReplaceAll(s, '.', page);
  ReplaceAll(s, '/', page);
  ReplaceAll(s, '#', page);
  for (std::size_t i = 0; i < s.size();) {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (page.IsLeadByte(byte)) {
      i += 2;
      continue;
    }
    if (!IsNameByte(byte, page)) ReplaceAll(s, byte, page);
    i += 1;
  }
  page.ToUpper(s);
  return s;
}

// For each position, whether a character starts there.
std::vector<bool> Boundaries(std::string_view s, const CodePage& page) {
  std::vector<bool> starts(s.size(), false);
  for (std::size_t i = 0; i < s.size();) {
    starts[i] = true;
    i += page.IsLeadByte(static_cast<unsigned char>(s[i])) ? 2u : 1u;
  }
  return starts;
}

void Check(std::string_view name, const CodePage& page) {
  const std::string out = lumerca::output::NormalizeName(name, page);
  const std::size_t length = std::min(name.find('\0'), name.size());
  FUZZ_CHECK(out.size() == length, "code page %u: %zu bytes in, %zu out", page.Id(), length,
             out.size());
  // The literal procedure is quadratic: names are at most 255 bytes anyway.
  if (length <= 512) {
    FUZZ_CHECK(out == Literally(name, page), "code page %u: differs from the literal procedure",
               page.Id());
  }
  const std::string_view in = name.substr(0, length);
  FUZZ_CHECK(Boundaries(in, page) == Boundaries(out, page),
             "code page %u: upper-casing moved a character boundary", page.Id());

  bool all_name_chars = true;
  if (!page.IsMultiByte()) {
    std::array<bool, 256> allowed{};
    for (unsigned b = 1; b < 256; ++b) {
      if (!IsNameByte(static_cast<unsigned char>(b), page)) continue;
      std::string one(1, static_cast<char>(b));
      page.ToUpper(one);
      allowed[static_cast<unsigned char>(one[0])] = true;
    }
    for (const char c : out) {
      FUZZ_CHECK(allowed[static_cast<unsigned char>(c)], "code page %u: byte 0x%02X in a name",
                 page.Id(), static_cast<unsigned>(static_cast<unsigned char>(c)));
    }
  }
  const auto starts = Boundaries(out, page);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (starts[i] && !page.IsLeadByte(static_cast<unsigned char>(out[i])) &&
        !IsNameByte(static_cast<unsigned char>(out[i]), page)) {
      all_name_chars = false;
    }
  }
  if (all_name_chars) {
    FUZZ_CHECK(lumerca::output::NormalizeName(out, page) == out, "code page %u: not idempotent",
               page.Id());
  }
}

const std::vector<const CodePage*>& Pages() {
  static const std::vector<const CodePage*> pages = [] {
    std::vector<const CodePage*> list;
    for (unsigned id : kCodePages) {
      if (const CodePage* page = CodePage::Find(id)) list.push_back(page);
    }
    static const auto ascii = CodePage::AsciiOnly(1252, false);
    static const auto ascii_multi = CodePage::AsciiOnly(932, true);
    list.push_back(ascii.get());
    list.push_back(ascii_multi.get());
    return list;
  }();
  return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  for (const CodePage* page : Pages()) Check(name, *page);
  return 0;
}
