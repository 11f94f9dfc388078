// CHESS and .CAS streams: read through their counts, field by field, and dropped.

#include "readers/skipped.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
namespace {

using testing::ByteVector;
using testing::MemoryStream;
using Reads = std::vector<std::uint32_t>;

TEST(CSkippedStreams, ChessRecords) {
  ByteVector bytes = testing::ChessStream(2);
  bytes.push_back(0xEE);  // behind the records: not read
  MemoryStream stream(bytes);
  CSkippedStreams skipped;
  EXPECT_EQ(ReadChess(skipped, stream, 0).outcome, ReadOutcome::Read);
  const Reads record = {4, 4, 4, 4, 4, 4, 4, 4, 6};
  Reads expected = {2};
  for (int i = 0; i < 2; ++i) expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(stream.reads(), expected);
  EXPECT_EQ(stream.position(), 2u + 2u * 38u);
}

TEST(CSkippedStreams, CasRecords) {
  MemoryStream stream(testing::CasStream(1));
  CSkippedStreams skipped;
  EXPECT_EQ(ReadCas(skipped, stream, 0, u"1.CAS").outcome, ReadOutcome::Read);
  EXPECT_EQ(stream.reads(), Reads({2, 1, 1, 4, 4, 2, 4, 4}));
}

TEST(CSkippedStreams, CountsOfZeroOrLessReadOnlyTheCount) {
  CSkippedStreams skipped;
  for (std::int16_t count : {std::int16_t{0}, std::int16_t{-1}, std::int16_t{-32768}}) {
    SCOPED_TRACE(count);
    ByteVector bytes = testing::Bytes().I16(count).Fill(100);
    MemoryStream chess(bytes), cas(bytes);
    EXPECT_EQ(ReadChess(skipped, chess, 0).outcome, ReadOutcome::Read);
    EXPECT_EQ(ReadCas(skipped, cas, 0, u"x.cas").outcome, ReadOutcome::Read);
    EXPECT_EQ(chess.reads(), Reads({2}));
    EXPECT_EQ(cas.reads(), Reads({2}));
  }
}

// Nothing of these streams is used: a short one is reported, never used.
TEST(CSkippedStreams, ShortStreams) {
  CSkippedStreams skipped;
  const ByteVector chess = testing::ChessStream(3);
  const ByteVector cas = testing::CasStream(3);
  MemoryStream empty({}), short_chess(ByteVector(chess.begin(), chess.end() - 1)),
      short_cas(ByteVector(cas.begin(), cas.end() - 1));
  const StreamRead none = ReadChess(skipped, empty, 0);
  EXPECT_EQ(none.outcome, ReadOutcome::Short);
  EXPECT_STREQ(none.place, "the record count");
  const StreamRead chess_read = ReadChess(skipped, short_chess, 0);
  EXPECT_EQ(chess_read.outcome, ReadOutcome::Short);
  EXPECT_EQ(chess_read.declared, chess.size());
  EXPECT_EQ(chess_read.kept_records, 2);
  EXPECT_EQ(chess_read.place_index, 2);
  const StreamRead cas_read = ReadCas(skipped, short_cas, 0, u"2.CAS");
  EXPECT_EQ(cas_read.outcome, ReadOutcome::Short);
  for (const StreamRead& read : {none, chess_read, cas_read}) EXPECT_FALSE(read.Used());
  // A huge count over a 2-byte stream stops at the first short field.
  MemoryStream huge({0xFF, 0x7F});
  EXPECT_EQ(ReadCas(skipped, huge, 0, u"3.CAS").outcome, ReadOutcome::Short);
  EXPECT_EQ(huge.reads(), Reads({2, 1}));
}

}  // namespace
}  // namespace lumerca
