// The code pages' table files (platform/codepage_tables.h), which the
// WebAssembly build takes in place of ICU: read back, each gives the lead
// bytes and the upper-casing of the code page that ICU gives here, and decodes
// every byte, every pair of bytes and random texts as ICU does.

#include "platform/codepage.h"
#include "platform/codepage_tables.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace lumerca::platform {
namespace {

std::string Tables(unsigned id) {
  const CodePage* page = CodePage::Find(id);
  if (page == nullptr) return {};
  return WriteCodePageTables(*page, [id](std::string_view bytes) { return AnsiToUtf8(bytes, id); });
}

class CodePageTablesTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(CodePageTablesTest, UpperCasingAndLeadBytesAsIcuGivesThem) {
  const unsigned id = GetParam();
  const CodePage* icu = CodePage::Find(id);
  ASSERT_NE(icu, nullptr) << "ICU has no converter for code page " << id;
  const auto read = ReadCodePageTables(Tables(id));
  ASSERT_TRUE(read) << "code page " << id;
  const CodePage& page = *read->page;
  EXPECT_EQ(page.Id(), id);
  EXPECT_EQ(page.IsMultiByte(), icu->IsMultiByte());
  for (unsigned b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    ASSERT_EQ(page.IsLeadByte(byte), icu->IsLeadByte(byte)) << b;
    std::string one(1, static_cast<char>(b)), expected = one;
    page.ToUpper(one);
    icu->ToUpper(expected);
    ASSERT_EQ(one, expected) << "byte " << b;
    for (unsigned trail = 0; trail < 256 && icu->IsLeadByte(byte); ++trail) {
      std::string two{static_cast<char>(b), static_cast<char>(trail)}, upper = two;
      page.ToUpper(two);
      icu->ToUpper(upper);
      ASSERT_EQ(two, upper) << "bytes " << b << " " << trail;
    }
  }
  // A name as the files write it: whole characters upper-cased, a lead byte
  // at the end left alone.
  std::string name = "abc\xE4\xFF\x81";
  std::string expected = name;
  page.ToUpper(name);
  icu->ToUpper(expected);
  EXPECT_EQ(name, expected);
}

TEST_P(CodePageTablesTest, DecodingAsIcuDecodes) {
  const unsigned id = GetParam();
  const auto read = ReadCodePageTables(Tables(id));
  ASSERT_TRUE(read) << "code page " << id;
  const CodePageDecoder& decoder = read->decoder;
  for (unsigned a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    ASSERT_EQ(decoder.ToUtf8(one), AnsiToUtf8(one, id)) << "byte " << a;
    for (unsigned b = 0; b < 256; ++b) {
      const std::string two{static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(decoder.ToUtf8(two), AnsiToUtf8(two, id)) << "bytes " << a << " " << b;
    }
  }
  // Texts of bytes from the upper half, where the lead bytes, unmapped bytes
  // and bad trail bytes are, with ASCII between; a lead byte often last.
  std::mt19937 random(id);
  for (int i = 0; i < 20000; ++i) {
    std::string text(1 + random() % 24, '\0');
    for (char& c : text) c = static_cast<char>(random() % 4 == 0 ? random() % 128 : 128 + random() % 128);
    ASSERT_EQ(decoder.ToUtf8(text), AnsiToUtf8(text, id)) << "text " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(KnownCodePages, CodePageTablesTest, ::testing::ValuesIn(KnownCodePages()),
                         [](const auto& param_info) { return "cp" + std::to_string(param_info.param); });

TEST(CodePageTablesFileTest, EveryKnownCodePageHasItsFile) {
  EXPECT_EQ(KnownCodePages().size(), 16u);
  for (const unsigned id : KnownCodePages()) EXPECT_FALSE(Tables(id).empty()) << id;
}

// A file cut short, of another kind or of another version, or whose lead
// bytes lack their trail bytes, is no table file.
TEST(CodePageTablesFileTest, DamagedFilesAreRefused) {
  const std::string file = Tables(932);
  ASSERT_TRUE(ReadCodePageTables(file));
  for (const std::size_t size : {std::size_t{0}, std::size_t{3}, std::size_t{12}, std::size_t{600},
                                 file.size() / 2, file.size() - 1}) {
    EXPECT_FALSE(ReadCodePageTables(file.substr(0, size))) << size;
  }
  EXPECT_FALSE(ReadCodePageTables(file + "x"));
  std::string other = file;
  other[0] = 'X';
  EXPECT_FALSE(ReadCodePageTables(other));
  other = file;
  other[4] = 2;  // version
  EXPECT_FALSE(ReadCodePageTables(other));

  // A single-byte code page's table whose byte 0x41 is marked as a lead byte
  // without trail bytes. The decoding table follows the magic, version,
  // code page, flag, lead bytes, upper case and the empty pair list.
  std::string single = Tables(1252);
  ASSERT_TRUE(ReadCodePageTables(single));
  const std::size_t decoding = 4 + 4 + 4 + 1 + 256 + 256 + 4;
  single[decoding + 2 * 0x41] = static_cast<char>(0xFE);
  single[decoding + 2 * 0x41 + 1] = static_cast<char>(0xFF);
  EXPECT_FALSE(ReadCodePageTables(single));
}

// The decoder on its own: a lead byte at the end, a bad trail byte that is
// decoded again, an unmapped pair.
TEST(CodePageTablesFileTest, DecoderMarks) {
  CodePageDecoder decoder;
  for (unsigned b = 0; b < 128; ++b) decoder.single[b] = static_cast<std::uint16_t>(b);
  for (unsigned b = 128; b < 256; ++b) decoder.single[b] = CodePageDecoder::kUnmapped;
  decoder.single[0x81] = CodePageDecoder::kLead;
  decoder.pairs[0x81] = std::make_unique<std::array<std::uint16_t, 256>>();
  auto& pairs = *decoder.pairs[0x81];
  pairs.fill(CodePageDecoder::kIllegal);
  pairs[0x40] = 0x3000;                     // U+3000
  pairs[0x41] = CodePageDecoder::kUnmapped;
  EXPECT_EQ(decoder.ToUtf8("a\x81\x40" "b"), "a\xE3\x80\x80" "b");
  EXPECT_EQ(decoder.ToUtf8("\x81\x41z"), "\xEF\xBF\xBDz");
  EXPECT_EQ(decoder.ToUtf8("\x81" "0"), "\xEF\xBF\xBD" "0");
  EXPECT_EQ(decoder.ToUtf8("\x81\x81\x40"), "\xEF\xBF\xBD\xE3\x80\x80");
  EXPECT_EQ(decoder.ToUtf8("z\x81"), "z\xEF\xBF\xBD");
  EXPECT_EQ(decoder.ToUtf8("\x90"), "\xEF\xBF\xBD");

  // Runs of bytes that stand for themselves are copied whole; an ASCII byte
  // that stands for another character (a yen sign at 0x5C) ends the run.
  decoder.single[0x5C] = 0x00A5;
  EXPECT_EQ(decoder.ToUtf8("C:\\dir\\\x81\x40" "end\r\n"), "C:\xC2\xA5" "dir\xC2\xA5\xE3\x80\x80" "end\r\n");
  const std::string lines(100000, 'x');
  EXPECT_EQ(decoder.ToUtf8(lines + "\\" + lines + "\x90"), lines + "\xC2\xA5" + lines + "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace lumerca::platform
