// The .CUTS streams: one element per stream, end points read A before B, the
// offset decoded from its code, the piece named by the stream's name.

#include "readers/splits.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
namespace {

using testing::Bytes;
using testing::ByteVector;
using testing::MemoryStream;
using testing::SplitRecipe;
using Reads = std::vector<std::uint32_t>;

TEST(CSplits, TwoSplitsOf49Bytes) {
  MemoryStream stream({
      0x07,                    // Raw1
      0x02, 0x00,              // SplitCount 2
      0x34, 0x12,              // Raw3
      // split 0
      0x00, 0x00, 0x80, 0x3F,  // A1 1.0
      0x00, 0x00, 0x00, 0x40,  // B1 2.0
      0x00, 0x00, 0x40, 0x40,  // A2 3.0
      0x00, 0x00, 0x80, 0x40,  // B2 4.0
      0x09, 0x00,              // Raw5
      0x80, 0x3F,              // OffsetCode 16256
      0x02, 0x00,              // Kind 2
      // split 1
      0x00, 0x00, 0xA0, 0x40,  // A1 5.0
      0x00, 0x00, 0xC0, 0x40,  // B1 6.0
      0x00, 0x00, 0xE0, 0x40,  // A2 7.0
      0x00, 0x00, 0x00, 0x41,  // B2 8.0
      0x00, 0x00,              // Raw5
      0x00, 0x00,              // OffsetCode 0
      0x01, 0x00,              // Kind 1
  });
  CSplits splits;
  ASSERT_EQ(ReadStream(splits, stream, 49, u"0.CUTS").outcome, ReadOutcome::Read);
  ASSERT_EQ(splits.Elements.GetSize(), 1u);
  const CSplits::CElement& e = splits.Elements[0];
  EXPECT_EQ(e.Raw1, 7);
  EXPECT_EQ(e.SplitCount, 2);
  EXPECT_EQ(e.Raw3, 0x1234);
  EXPECT_EQ(e.PieceIndex, 0);
  ASSERT_EQ(e.Splits.GetSize(), 2u);

  const auto& s0 = e.Splits[0];
  EXPECT_EQ(s0.A1, 1.0f);
  EXPECT_EQ(s0.B1, 2.0f);
  EXPECT_EQ(s0.A2, 3.0f);
  EXPECT_EQ(s0.B2, 4.0f);
  EXPECT_EQ(s0.Raw5, 9);
  EXPECT_EQ(s0.OffsetCode, 16256);
  EXPECT_EQ(s0.Kind, 2);
  EXPECT_EQ(s0.Offset, 1.0);
  EXPECT_EQ(s0.Side, 0);

  const auto& s1 = e.Splits[1];
  EXPECT_EQ(s1.A1, 5.0f);
  EXPECT_EQ(s1.B1, 6.0f);
  EXPECT_EQ(s1.A2, 7.0f);
  EXPECT_EQ(s1.B2, 8.0f);
  EXPECT_EQ(s1.Offset, 0.0);
  EXPECT_EQ(s1.Kind, 1);

  // The header field by field, the splits with one read.
  EXPECT_EQ(stream.reads(), Reads({1, 2, 2, 44}));
}

TEST(CSplits, OffsetCodes) {
  EXPECT_EQ(DecodeOffset(0), 0.0);  // not 2^-127
  EXPECT_EQ(DecodeOffset(16256), 1.0);
  EXPECT_EQ(DecodeOffset(16384), 2.0);
  EXPECT_EQ(DecodeOffset(16000), 0.25);
  EXPECT_EQ(DecodeOffset(16320), 1.4142135623730951);
  EXPECT_DOUBLE_EQ(DecodeOffset(1), std::ldexp(1.0, -127) * std::pow(2.0, 1.0 / 128));
  EXPECT_NEAR(DecodeOffset(65535) / 7.8378e+115, 1.0, 1e-4);
  EXPECT_TRUE(std::isfinite(DecodeOffset(65535)));
}

// Every code: a power of two times one of 128 values, correctly rounded, so
// within one unit in the last place of glibc's pow (itself under 0.52 of a
// unit) and exactly twice the value 128 codes below.
TEST(CSplits, OffsetCodesAreCorrectlyRoundedPowersOfTwo) {
  int differing = 0;
  for (unsigned code = 1; code <= 65535; ++code) {
    const double offset = DecodeOffset(static_cast<std::uint16_t>(code));
    const double library = std::pow(4.0, code * 0.00390625) / std::ldexp(1.0, 127);
    ASSERT_LE(std::fabs(offset - library), std::nextafter(library, INFINITY) - library) << code;
    if (offset != library) ++differing;
    if (code > 128) {
      ASSERT_EQ(offset, 2.0 * DecodeOffset(static_cast<std::uint16_t>(code - 128))) << code;
    }
  }
  EXPECT_LT(differing, 100);
  // 2^(1/2), through the IEEE square root, which is correctly rounded.
  EXPECT_EQ(DecodeOffset(16256 + 64), std::sqrt(2.0));
}

TEST(CSplits, IntPower) {
  EXPECT_EQ(IntPower(4.0, 63), std::ldexp(1.0, 126));
  EXPECT_EQ(IntPower(3.0, 5), 243.0);
  EXPECT_EQ(IntPower(7.5, 0), 1.0);
  EXPECT_EQ(IntPower(2.0, -3), 0.125);
  EXPECT_EQ(IntPower(-2.0, 3), -8.0);
  EXPECT_EQ(IntPower(2.0, INT_MIN), 0.0);  // 1 / infinity, without overflow of -n
}

TEST(CSplits, PieceIndexFromTheName) {
  struct Case {
    std::u16string name;
    std::uint16_t piece;
  };
  const Case cases[] = {
      {u"12.cuts", 12},
      {u" 4.CUTS", 4},
      {u"70000.CUTS", 4464},  // the low 16 bits
      {u"-2.CUTS", 65534},
  };
  CSplits splits;
  for (const Case& c : cases) {
    MemoryStream stream(testing::CutsStream({SplitRecipe{}}));
    ASSERT_EQ(ReadStream(splits, stream, 0, c.name).outcome, ReadOutcome::Read);
    EXPECT_EQ(splits.Elements[splits.Elements.GetSize() - 1].PieceIndex, c.piece);
  }

  // Without a leading number the cut lines belong to no piece: the stream is
  // skipped unread.
  MemoryStream stream(testing::CutsStream({SplitRecipe{}}));
  EXPECT_EQ(ReadStream(splits, stream, 0, u"X.CUTS").outcome, ReadOutcome::Skipped);
  EXPECT_EQ(splits.Elements.GetSize(), 4u);
  EXPECT_TRUE(stream.reads().empty());
}

TEST(CSplits, CountsOfZeroOrLessAndRepeatedPieces) {
  CSplits splits;
  for (std::int16_t count : {std::int16_t{0}, std::int16_t{-1}}) {
    ByteVector bytes = Bytes().U8(0).I16(count).U16(0).Fill(22, 0x3F);
    MemoryStream stream(bytes);
    ASSERT_EQ(ReadStream(splits, stream, 0, u"3.CUTS").outcome, ReadOutcome::Read);
    EXPECT_EQ(stream.reads(), Reads({1, 2, 2}));
  }
  // Two streams for piece 3: two elements, none merged.
  ASSERT_EQ(splits.Elements.GetSize(), 2u);
  for (const auto& e : splits.Elements) {
    EXPECT_EQ(e.PieceIndex, 3);
    EXPECT_TRUE(e.Splits.IsEmpty());
  }
  EXPECT_EQ(splits.Elements[1].SplitCount, -1);
}

// A stream cut in its header adds nothing (nothing says how many cut lines
// the piece has); one cut among its splits adds the splits that arrived
// whole, with SplitCount their number.
TEST(CSplits, ShortStreamsKeepTheWholeSplits) {
  const ByteVector three = testing::CutsStream({SplitRecipe{1}, SplitRecipe{2}, SplitRecipe{3}});
  struct Case {
    const char* what;
    ByteVector bytes;
    bool added;
    std::vector<float> a1;  // the A1 of the splits kept
    const char* place;
    std::int64_t declared_records;
  };
  const Case cases[] = {
      {"listed with bytes, none arrived", {}, false, {}, "the header", 0},
      {"one byte", {0x00}, false, {}, "the header", 0},
      {"Raw3 cut short", {0x00, 0x03, 0x00, 0x00}, false, {}, "the header", 3},
      {"the third split one byte short", ByteVector(three.begin(), three.end() - 1), true, {1, 2},
       "cut line", 3},
      {"the first split cut", ByteVector(three.begin(), three.begin() + 10), true, {}, "cut line", 3},
      // 32767 splits declared, none there: one read past the header, no more.
      {"a huge count", {0x00, 0xFF, 0x7F, 0x00, 0x00}, true, {}, "cut line", 32767},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSplits splits;
    MemoryStream stream(c.bytes);
    // As listed by its storage: the bytes of the whole stream.
    const StreamRead read = ReadStream(splits, stream, static_cast<std::uint32_t>(three.size()), u"1.CUTS");
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_TRUE(read.Used());
    EXPECT_STREQ(read.place, c.place);
    EXPECT_EQ(read.declared_records, c.declared_records);
    EXPECT_EQ(read.declared, 5u + 22u * static_cast<std::uint64_t>(c.declared_records));
    EXPECT_EQ(read.arrived, c.bytes.size());
    EXPECT_LE(stream.reads().size(), 4u);  // the header and one block: none past the end
    ASSERT_EQ(splits.Elements.GetSize(), c.added ? 1u : 0u);
    if (!c.added) continue;
    const CSplits::CElement& e = splits.Elements[0];
    EXPECT_EQ(e.SplitCount, static_cast<std::int16_t>(c.a1.size()));
    EXPECT_EQ(e.PieceIndex, 1);
    ASSERT_EQ(e.Splits.GetSize(), c.a1.size());
    for (std::size_t i = 0; i < c.a1.size(); ++i) EXPECT_EQ(e.Splits[i].A1, c.a1[i]);
  }
}

// Hundreds of splits: read in blocks of 256, every split in its place, and
// the first block that comes back short ends the reading where it ended, in
// a block or between two.
TEST(CSplits, SplitsInBlocks) {
  std::vector<SplitRecipe> recipes;
  for (int i = 0; i < 600; ++i) {
    recipes.push_back({static_cast<float>(i), static_cast<float>(-i), 0.5f, 0.25f,
                     static_cast<std::uint16_t>(16256 + i), static_cast<std::uint16_t>(i % 3),
                     static_cast<std::uint16_t>(i)});
  }
  const ByteVector whole = testing::CutsStream(recipes);
  struct Case {
    const char* what;
    std::size_t bytes;  // of the stream that arrive
    std::size_t kept;
    Reads reads;
  };
  const std::uint32_t block = 256 * 22;
  const Case cases[] = {
      {"all of them", whole.size(), 600, {1, 2, 2, block, block, 88 * 22}},
      {"cut in the second block, inside a split", 5 + 300 * 22 + 10, 300, {1, 2, 2, block, block}},
      {"cut where the second block begins", 5 + 256 * 22, 256, {1, 2, 2, block, block}},
      {"cut in the first split", 5 + 7, 0, {1, 2, 2, block}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CSplits splits;
    MemoryStream stream(whole, c.bytes);
    const StreamRead read = ReadStream(splits, stream, static_cast<std::uint32_t>(whole.size()), u"9.CUTS");
    EXPECT_EQ(read.outcome, c.kept == 600 ? ReadOutcome::Read : ReadOutcome::Short);
    EXPECT_EQ(read.arrived, c.bytes);
    EXPECT_EQ(read.kept_records, static_cast<std::int64_t>(c.kept));
    if (c.kept < 600) {
      EXPECT_STREQ(read.place, "cut line");
      EXPECT_EQ(read.place_index, static_cast<std::int64_t>(c.kept));
    }
    EXPECT_EQ(stream.reads(), c.reads);
    ASSERT_EQ(splits.Elements.GetSize(), 1u);
    const CSplits::CElement& e = splits.Elements[0];
    EXPECT_EQ(e.SplitCount, static_cast<std::int16_t>(c.kept));
    ASSERT_EQ(e.Splits.GetSize(), c.kept);
    for (std::size_t i = 0; i < c.kept; ++i) {
      const auto& s = e.Splits[i];
      ASSERT_EQ(s.A1, static_cast<float>(i)) << i;
      ASSERT_EQ(s.B1, -static_cast<float>(i)) << i;
      ASSERT_EQ(s.A2, 0.5f) << i;
      ASSERT_EQ(s.B2, 0.25f) << i;
      ASSERT_EQ(s.OffsetCode, 16256 + i) << i;
      ASSERT_EQ(s.Offset, DecodeOffset(static_cast<std::uint16_t>(16256 + i))) << i;
      ASSERT_EQ(s.Kind, i % 3) << i;
      ASSERT_EQ(s.Raw5, i) << i;
    }
  }
}

// A stream listed with 0 bytes holds no cut lines: an element for its piece
// with none, and nothing missing. Listed with 1 to 4 bytes, its header is cut
// short and nothing is kept.
TEST(CSplits, AStreamListedEmptyGivesAnElementWithoutCutLines) {
  CSplits splits;
  MemoryStream empty(ByteVector{});
  const StreamRead read = ReadStream(splits, empty, 0, u"4.CUTS");
  EXPECT_EQ(read.outcome, ReadOutcome::Read);
  EXPECT_FALSE(read.Used());
  EXPECT_EQ(read.declared, 0u);
  ASSERT_EQ(splits.Elements.GetSize(), 1u);
  EXPECT_EQ(splits.Elements[0].PieceIndex, 4);
  EXPECT_EQ(splits.Elements[0].SplitCount, 0);
  EXPECT_TRUE(splits.Elements[0].Splits.IsEmpty());

  for (std::uint32_t listed = 1; listed <= 4; ++listed) {
    SCOPED_TRACE(listed);
    const ByteVector bytes(listed, 0x00);
    MemoryStream cut(bytes);
    const StreamRead short_read = ReadStream(splits, cut, listed, u"5.CUTS");
    EXPECT_EQ(short_read.outcome, ReadOutcome::Short);
    EXPECT_TRUE(short_read.Used());
    EXPECT_STREQ(short_read.place, "the header");
  }
  EXPECT_EQ(splits.Elements.GetSize(), 1u);
}

}  // namespace
}  // namespace lumerca
