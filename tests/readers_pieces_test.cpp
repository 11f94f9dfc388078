// The PIECES stream: an unsigned count and 86-byte records read field by field.

#include "readers/pieces.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
namespace {

using testing::Bytes;
using testing::ByteVector;
using testing::MemoryStream;
using testing::PieceRecipe;
using Reads = std::vector<std::uint32_t>;

// Packed fields are passed on by value: a reference to one may be misaligned.
template <class T>
T V(T value) {
  return value;
}

const Reads kRecordReads = {4, 1, 1, 4, 1, 5, 4, 4, 4, 4, 4, 4, 4, 2, 40};

TEST(CMarkerPieces, RecordFields) {
  // One record, field by field.
  ByteVector bytes = Bytes()
                         .U16(1)             // count
                         .Fill(4, 0x11)      // Raw1
                         .U8(0xFF)           // Attr2: unsigned, 255
                         .U8(0x22)           // Raw3
                         .F32(2.5f)          // Attr4
                         .U8(0x80)           // Attr5: unsigned, 128
                         .Fill(5, 0x33)      // Raw6
                         .F32(100.0f)        // PlaceX
                         .F32(200.0f)        // PlaceY
                         .Fill(4, 0x44)      // Raw9
                         .F32(8.0f)          // MaxY
                         .F32(-4.0f)         // MinY
                         .F32(30.0f)         // MaxX
                         .F32(-20.0f)        // MinX
                         .I16(-3)            // CroixIndex
                         .Fill(40, 0x55)     // Raw15
                         .Fill(7, 0xEE);     // behind the record: not read
  MemoryStream stream(bytes);
  CMarkerPieces pieces;
  ASSERT_EQ(ReadStream(pieces, stream, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(pieces.GetSize(), 1u);
  const CMarkerPiece& p = pieces[0];
  EXPECT_EQ(V(p.Raw1[0]), 0x11);
  EXPECT_EQ(V(p.Attr2), 255);
  EXPECT_EQ(V(p.Raw3[0]), 0x22);
  EXPECT_EQ(V(p.Attr4), 2.5f);
  EXPECT_EQ(V(p.Attr5), 128);
  EXPECT_EQ(V(p.Raw6[4]), 0x33);
  EXPECT_EQ(V(p.PlaceX), 100.0f);
  EXPECT_EQ(V(p.PlaceY), 200.0f);
  EXPECT_EQ(V(p.Raw9[0]), 0x44);
  EXPECT_EQ(V(p.MaxY), 8.0f);
  EXPECT_EQ(V(p.MinY), -4.0f);
  EXPECT_EQ(V(p.MaxX), 30.0f);
  EXPECT_EQ(V(p.MinX), -20.0f);
  EXPECT_EQ(V(p.CroixIndex), -3);
  EXPECT_EQ(V(p.Raw15[39]), 0x55);

  Reads expected = {2};
  expected.insert(expected.end(), kRecordReads.begin(), kRecordReads.end());
  EXPECT_EQ(stream.reads(), expected);
}

TEST(CMarkerPieces, CountIsUnsigned) {
  // 0x8000 is 32768 pieces, not a negative count.
  std::vector<PieceRecipe> recipes(0x8000);
  for (std::size_t i = 0; i < recipes.size(); ++i) recipes[i].croix_index = static_cast<std::int16_t>(i);
  MemoryStream stream(testing::PiecesStream(recipes));
  CMarkerPieces pieces;
  ASSERT_EQ(ReadStream(pieces, stream, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(pieces.GetSize(), 32768u);
  EXPECT_EQ(V(pieces[32767].CroixIndex), 32767);
  EXPECT_EQ(stream.position(), 2u + 32768u * 86u);
}

TEST(CMarkerPieces, StreamsAppendInOrder) {
  CMarkerPieces pieces;
  PieceRecipe a, b, c;
  a.croix_index = 10;
  b.croix_index = 11;
  c.croix_index = 12;
  ByteVector first = testing::PiecesStream({a, b});
  first.resize(first.size() + 20, 0xEE);  // anything behind the records is ignored
  MemoryStream first_stream(first);
  MemoryStream second_stream(testing::PiecesStream({c}));
  ASSERT_EQ(ReadStream(pieces, first_stream, 0).outcome, ReadOutcome::Read);
  EXPECT_EQ(first_stream.position(), 2u + 2u * 86u);
  ASSERT_EQ(ReadStream(pieces, second_stream, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(pieces.GetSize(), 3u);
  EXPECT_EQ(V(pieces[0].CroixIndex), 10);
  EXPECT_EQ(V(pieces[1].CroixIndex), 11);
  EXPECT_EQ(V(pieces[2].CroixIndex), 12);

  // A count of 0 adds nothing.
  MemoryStream none({0x00, 0x00});
  EXPECT_EQ(ReadStream(pieces, none, 2).outcome, ReadOutcome::Read);
  EXPECT_EQ(pieces.GetSize(), 3u);
}

// A stream cut short adds the pieces that arrived whole, behind those already
// read; every byte of PIECES is used, so what is missing always is. No read
// is made past the end, however many pieces the count declares.
// A PIECES stream listed as empty adds no piece, and misses nothing.
TEST(CMarkerPieces, AnEmptyStreamAddsNoPiece) {
  CMarkerPieces pieces;
  MemoryStream stream(ByteVector{});
  const StreamRead read = ReadStream(pieces, stream, 0);
  EXPECT_EQ(read.outcome, ReadOutcome::Read);
  EXPECT_FALSE(read.Used());
  EXPECT_EQ(pieces.GetSize(), 0u);
}

TEST(CMarkerPieces, ShortStreamsKeepTheWholePieces) {
  PieceRecipe kept;
  kept.croix_index = 1;
  std::vector<PieceRecipe> three(3);
  for (int i = 0; i < 3; ++i) three[static_cast<std::size_t>(i)].croix_index = static_cast<std::int16_t>(10 + i);
  const ByteVector full = testing::PiecesStream(three);
  struct Case {
    const char* what;
    ByteVector bytes;
    std::vector<int> added;  // CroixIndex of the pieces added
    const char* place;
    std::int64_t place_index;
    std::uint64_t declared;
    std::size_t reads;
  };
  const Case cases[] = {
      {"nothing of what is listed", {}, {}, "the record count", -1, 2, 1},
      {"half a count", {0x01}, {}, "the record count", -1, 2, 1},
      // 5 bytes that declare 65535 pieces: the first is cut, no further read.
      {"a huge count", {0xFF, 0xFF, 0x00, 0x00, 0x00}, {}, "piece", 0, 2 + 65535u * 86, 2},
      {"the last record one byte short", ByteVector(full.begin(), full.end() - 1), {10, 11}, "piece", 2,
       2 + 3 * 86, 1 + 3 * 15},
      {"the second record cut in CroixIndex", ByteVector(full.begin(), full.begin() + 2 + 86 + 45),
       {10}, "piece", 1, 2 + 3 * 86, 1 + 15 + 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CMarkerPieces pieces;
    MemoryStream first(testing::PiecesStream({kept}));
    ASSERT_EQ(ReadStream(pieces, first, 0).outcome, ReadOutcome::Read);
    MemoryStream stream(c.bytes);
    // The storage lists the whole stream; fewer bytes arrive.
    const StreamRead read = ReadStream(pieces, stream, static_cast<std::uint32_t>(full.size()));
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_TRUE(read.Used());
    EXPECT_STREQ(read.place, c.place);
    EXPECT_EQ(read.place_index, c.place_index);
    EXPECT_EQ(read.declared, c.declared);
    EXPECT_EQ(read.arrived, c.bytes.size());
    EXPECT_EQ(read.kept_records, static_cast<std::int64_t>(c.added.size()));
    EXPECT_EQ(stream.reads().size(), c.reads);
    ASSERT_EQ(pieces.GetSize(), 1 + c.added.size());
    EXPECT_EQ(V(pieces[0].CroixIndex), 1);
    for (std::size_t i = 0; i < c.added.size(); ++i) EXPECT_EQ(V(pieces[1 + i].CroixIndex), c.added[i]);
  }
}

}  // namespace
}  // namespace lumerca
