// Name normalisation and the code pages beneath it: lead bytes, character-wise
// replacement that never touches a trail byte, the code page's own
// upper-casing, and the process-wide code page setting.

#include "output/normalize.h"
#include "platform/codepage.h"

#include <lumerca/marker.h>

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace lumerca {

using namespace lumerca::output;
using namespace lumerca::platform;
namespace {

using platform::CodePage;

const CodePage& Page(unsigned id) {
  const CodePage* page = CodePage::Find(id);
  if (page == nullptr) throw std::runtime_error("code page " + std::to_string(id) + " missing");
  return *page;
}

std::string Upper(unsigned id, std::string text) {
  Page(id).ToUpper(text);
  return text;
}

// The procedure taken literally: three replace-all passes, then a scan that
// replaces all occurrences of every rejected character it meets, each replace
// walking the whole name character by character; then the upper-casing.
std::string ReplaceAll(std::string text, char from, const CodePage& page) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (page.IsLeadByte(static_cast<unsigned char>(text[i]))) {
      i += 2;
    } else {
      if (text[i] == from) text[i] = '-';
      i += 1;
    }
  }
  return text;
}

std::string LiteralNormalize(const std::string& name, const CodePage& page) {
  std::string s = name.substr(0, name.find('\0'));
  s = ReplaceAll(s, '.', page);
  s = ReplaceAll(s, '/', page);
  s = ReplaceAll(s, '#', page);
  std::size_t i = 0;
  while (i < s.size()) {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (page.IsLeadByte(byte)) {
      i += 2;
      continue;
    }
    if (!IsNameChar(byte, page)) s = ReplaceAll(s, s[i], page);
    i += 1;
  }
  page.ToUpper(s);
  return s;
}

TEST(NormalizeNameTest, ExamplesInASingleByteCodePage) {
  const CodePage& cp1252 = Page(1252);
  const struct {
    std::string input, output;
  } cases[] = {
      {"JACKET/A#2.1", "JACKET-A-2-1"},
      {"BACK PANEL_L", "BACK PANEL_L"},
      {"Skirt 12.b", "S---- 12--"},
      {"A+B=C", "A-B-C"},
      {"AxBxC", "A-B-C"},
      {"MODEL 1.2", "MODEL 1-2"},
      {"Blouse.2", "B------2"},
      {"", ""},
      {std::string("AB\0cd", 5), "AB"},  // the name ends at its NUL
      // The five kept high bytes; 0x9A (s caron) has the upper case 0x8A.
      {"\x80\x8E\x99\xA5", "\x80\x8E\x99\xA5"},
      {"X\x9A", "X\x8A"},
      // Other high bytes and control bytes are rejected.
      {"\xE9t\xE9\x01\x7F", "-----"},
  };
  for (const auto& c : cases) {
    const std::string output = NormalizeName(c.input, cp1252);
    EXPECT_EQ(output, c.output) << c.input;
    EXPECT_EQ(output.size(), c.input.substr(0, c.input.find('\0')).size());
  }
  // In the OEM code page 437 the kept bytes are capitals already.
  EXPECT_EQ(NormalizeName("\x9A\x81\x80", Page(437)), "\x9A-\x80");
}

TEST(NormalizeNameTest, DoubleByteCharactersPassWhole) {
  const CodePage& cp932 = Page(932);
  // 'a' is rejected and replaced everywhere, but not as the trail byte of
  // 0x82 0x61 (fullwidth B).
  EXPECT_EQ(NormalizeName("a\x82\x61" "a", cp932), "-\x82\x61-");
  // The same for '\\' as trail byte of 0x95 0x5C, and '.' before it.
  EXPECT_EQ(NormalizeName(".\\\x95\x5C\\", cp932), "--\x95\x5C-");
  // Single high bytes stay in a multi-byte code page (halfwidth katakana).
  EXPECT_EQ(NormalizeName("\xB1\xB2 X", cp932), "\xB1\xB2 X");
  EXPECT_EQ(NormalizeName("\xB1\xB2 X", Page(1252)), "-- X");
  // Double-byte letters are upper-cased: fullwidth a, Greek alpha, Cyrillic a.
  EXPECT_EQ(NormalizeName("\x82\x81\x83\xBF\x84\x70", cp932), "\x82\x60\x83\x9F\x84\x40");
  // A lead byte at the end stays as it is.
  EXPECT_EQ(NormalizeName("AB\x82", cp932), "AB\x82");
  // GBK: fullwidth a (A3 E1) becomes fullwidth A (A3 C1); 0x80 (euro) stays.
  EXPECT_EQ(NormalizeName("\xA3\xE1\x80.", Page(936)), "\xA3\xC1\x80-");
}

TEST(NormalizeNameTest, SameResultAsTheLiteralProcedure) {
  std::mt19937 random(7);
  const unsigned char interesting[] = {'a', 'z', 'A', 'Z', '0', '9', ' ', '-', '_', '.', '/',
                                       '#', '+', '\\', 0x01, 0x7F, 0x80, 0x81, 0x8E, 0x99, 0x9A,
                                       0x9F, 0xA5, 0xB1, 0xE0, 0xE9, 0xFC, 0xFE, 0xFF};
  for (unsigned id : {1252u, 1251u, 437u, 932u, 936u, 949u, 950u}) {
    const CodePage& page = Page(id);
    for (int round = 0; round < 3000; ++round) {
      std::string name(random() % 40, '\0');
      for (char& c : name) {
        c = static_cast<char>(random() % 2 ? interesting[random() % sizeof(interesting)]
                                           : random() % 255 + 1);
      }
      const std::string expected = LiteralNormalize(name, page);
      ASSERT_EQ(NormalizeName(name, page), expected) << "code page " << id << ", round " << round;
    }
  }
}

TEST(CodePageTest, LeadBytesAreTheCodePagesOwn) {
  const struct {
    unsigned id;
    const char* converter;
  } pages[] = {{932, "windows-31j"}, {936, "windows-936-2000"}, {949, "windows-949-2000"},
               {950, "windows-950-2000"}, {1252, "windows-1252"}};
  for (const auto& p : pages) {
    const CodePage& page = Page(p.id);
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(p.converter, &error);
    ASSERT_TRUE(U_SUCCESS(error)) << p.converter;
    UBool starters[256] = {};
    if (ucnv_getType(converter) != UCNV_SBCS) ucnv_getStarters(converter, starters, &error);
    for (unsigned b = 0; b < 256; ++b) {
      EXPECT_EQ(page.IsLeadByte(static_cast<unsigned char>(b)), starters[b] != 0)
          << p.id << " byte " << b;
    }
    ucnv_close(converter);
    EXPECT_EQ(page.IsMultiByte(), p.id != 1252);
  }
  const CodePage& cp932 = Page(932);
  EXPECT_TRUE(cp932.IsLeadByte(0x81) && cp932.IsLeadByte(0x9F) && cp932.IsLeadByte(0xE0) &&
              cp932.IsLeadByte(0xFC));
  EXPECT_FALSE(cp932.IsLeadByte(0x80) || cp932.IsLeadByte(0xA0) || cp932.IsLeadByte(0xDF) ||
               cp932.IsLeadByte(0xFD));
}

TEST(CodePageTest, UpperCasingIsTheCodePagesOwn) {
  // ASCII changes only in a-z, whatever the code page.
  std::string ascii;
  for (int b = 1; b < 128; ++b) ascii += static_cast<char>(b);
  std::string expected = ascii;
  for (char& c : expected) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  for (unsigned id : {874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u,
                      1256u, 1257u, 1258u, 437u, 850u}) {
    EXPECT_EQ(Upper(id, ascii), expected) << id;
  }
  // cp1252: e acute, y diaeresis (to 0x9F), oe, s caron; micro sign and sharp s
  // have no upper case in the code page.
  EXPECT_EQ(Upper(1252, "\xE9\xFF\x9C\x9A\xB5\xDF"), "\xC9\x9F\x8C\x8A\xB5\xDF");
  EXPECT_EQ(Upper(1251, "\xE0\xFF\xB8"), "\xC0\xDF\xA8");  // Cyrillic a, ya, yo
  EXPECT_EQ(Upper(1253, "\xE1\xF2"), "\xC1\xD3");          // alpha; final sigma to Sigma
  EXPECT_EQ(Upper(1250, "\xB9\xE8"), "\xA5\xC8");          // a ogonek, c caron
  EXPECT_EQ(Upper(850, "\x81\x87"), "\x9A\x80");           // u diaeresis, c cedilla
  // A double-byte character whose upper case the code page lacks, or that has
  // none, stays; so do the bytes of an invalid sequence.
  EXPECT_EQ(Upper(932, "\x88\x9F\x82\x60\x81\x20"), "\x88\x9F\x82\x60\x81\x20");
  EXPECT_EQ(Upper(949, "\xA3\xE1"), "\xA3\xC1");
  EXPECT_EQ(Upper(950, "\xA2\xE9"), "\xA2\xCF");  // fullwidth a
}

TEST(CodePageTest, ProcessSettingDefaultsTo1252) {
  EXPECT_EQ(AnsiCodePage(), 1252u);
  EXPECT_EQ(platform::CurrentCodePage().Id(), 1252u);
  EXPECT_EQ(NormalizeName("\x82\x81 a"), "-- -");

  EXPECT_TRUE(SetAnsiCodePage(932));
  EXPECT_EQ(AnsiCodePage(), 932u);
  EXPECT_EQ(NormalizeName("\x82\x81 a"), "\x82\x60 -");

  EXPECT_FALSE(SetAnsiCodePage(65001));
  EXPECT_FALSE(SetAnsiCodePage(0));
  EXPECT_EQ(AnsiCodePage(), 932u);

  EXPECT_TRUE(SetAnsiCodePage(1252));
  EXPECT_EQ(NormalizeName("\x82\x81 a"), "-- -");
}

TEST(CodePageTest, TablesAreBuiltOnceAcrossThreads) {
  std::vector<const CodePage*> seen(8, nullptr);
  std::vector<std::string> names(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      seen[t] = CodePage::Find(950);
      names[t] = NormalizeName("a\xA2\xE9.", *seen[t]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < seen.size(); ++t) {
    EXPECT_EQ(seen[t], seen[0]);
    EXPECT_EQ(names[t], "-\xA2\xCF-");
  }
}

}  // namespace
}  // namespace lumerca
