// The field primitives: one read per field, counted texts, SkipBytes' read
// pattern and the number that leads a stream name.

#include "readers/primitives.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace lumerca {

using namespace lumerca::readers;
namespace {

using testing::ByteVector;
using testing::MemoryStream;
using Reads = std::vector<std::uint32_t>;

TEST(ReadField, OneReadOfTheFieldWidth) {
  MemoryStream stream({0x34, 0x12, 0xFF});
  std::int16_t value = 0;
  EXPECT_TRUE(ReadField(stream, &value, 2));
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(stream.reads(), Reads({2}));

  // One byte left: the read comes back short.
  std::int16_t rest = 0;
  EXPECT_FALSE(ReadField(stream, &rest, 2));
  EXPECT_EQ(stream.reads(), Reads({2, 2}));
}

// A field that arrives in part is missing whole and reads as zero. Through a
// LayoutReader, once the stream has ended no field or text is read at all.
TEST(LayoutReader, MissingFieldsReadAsZeroWithoutReads) {
  MemoryStream stream({0x34, 0x12, 0xAB, 'x', 'y'});
  LayoutReader in(stream);
  std::int16_t first = 0;
  std::int32_t second = -1;
  EXPECT_TRUE(in.Field(&first, 2));
  EXPECT_EQ(first, 0x1234);
  EXPECT_FALSE(in.Field(&second, 4));  // 3 of its 4 bytes: missing
  EXPECT_EQ(second, 0);
  EXPECT_TRUE(in.ended());
  std::int16_t later = 7;
  EXPECT_FALSE(in.Field(&later, 2));
  EXPECT_EQ(later, 0);
  char text[8];
  std::memset(text, '#', sizeof text);
  EXPECT_FALSE(in.Text(text, sizeof text, 3));
  EXPECT_EQ(text[0], '\0');
  EXPECT_TRUE(in.Text(text, sizeof text, 0));   // needs no byte
  EXPECT_TRUE(in.Text(text, sizeof text, -2));  // nor does a negative length
  EXPECT_EQ(stream.reads(), Reads({2, 4}));
  EXPECT_EQ(in.arrived(), 5u);
  EXPECT_EQ(in.Result().outcome, ReadOutcome::Short);

  // A text cut where its bytes end.
  MemoryStream cut({'a', 'b'});
  LayoutReader text_in(cut);
  std::memset(text, '#', sizeof text);
  EXPECT_FALSE(text_in.Text(text, sizeof text, 5));
  EXPECT_STREQ(text, "ab");
}

TEST(ReadText, StoresTheBytesAndANul) {
  // Texts carry no terminator in the stream; bytes are kept as they are,
  // non-printable ones and a NUL among them included.
  MemoryStream stream({'A', 0x01, 0xFE, 0x00, 'z', 'N', 'E', 'X', 'T'});
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_TRUE(ReadText(stream, buffer, sizeof buffer, 5));
  const char expected[8] = {'A', '\x01', '\xFE', '\0', 'z', '\0', '#', '#'};
  EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
  EXPECT_EQ(stream.reads(), Reads({5}));
  EXPECT_EQ(stream.position(), 5u);

  // Length 0: an empty text, the bytes behind the NUL left as they were.
  ASSERT_TRUE(ReadText(stream, buffer, sizeof buffer, 0));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '\x01');
  EXPECT_EQ(stream.position(), 5u);
}

TEST(ReadText, LengthsOutsideTheBuffer) {
  // A text that fills the buffer exactly: capacity - 1 bytes and the NUL.
  {
    MemoryStream stream(ByteVector(7, 'x'));
    char buffer[8] = {};
    ASSERT_TRUE(ReadText(stream, buffer, sizeof buffer, 7));
    EXPECT_EQ(std::string(buffer), "xxxxxxx");
  }
  // Too long: the first capacity - 1 bytes are kept, the rest is consumed so
  // that the stream stands behind the whole text.
  {
    ByteVector bytes;
    for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<std::uint8_t>('a' + i % 26));
    bytes.push_back('!');
    MemoryStream stream(bytes);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_TRUE(ReadText(stream, buffer, sizeof buffer, 200));
    EXPECT_EQ(std::string(buffer), "abcdefg");
    EXPECT_EQ(stream.position(), 200u);
    EXPECT_EQ(stream.reads().front(), 7u);
    char next = 0;
    ASSERT_TRUE(ReadField(stream, &next, 1));
    EXPECT_EQ(next, '!');
  }
  // Negative: an empty text, and nothing of the stream is read.
  {
    MemoryStream stream({'a', 'b'});
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_TRUE(ReadText(stream, buffer, sizeof buffer, -3));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_TRUE(stream.reads().empty());
  }
}

TEST(ReadText, ShortStreamsAreReported) {
  char buffer[8];
  {
    MemoryStream stream({'a', 'b'});  // 3 bytes stated, 2 delivered
    EXPECT_FALSE(ReadText(stream, buffer, sizeof buffer, 3));
    EXPECT_EQ(buffer[2], '\0');  // still terminated
  }
  {
    MemoryStream stream(ByteVector(10, 'a'));  // the dropped tail is short
    EXPECT_FALSE(ReadText(stream, buffer, sizeof buffer, 12));
    EXPECT_EQ(std::string(buffer), "aaaaaaa");
  }
}

TEST(SkipBytes, ReadPattern) {
  struct Case {
    std::uint32_t size;
    std::size_t holds;  // bytes the stream delivers
    Reads reads;
    bool complete;
  };
  const Case cases[] = {
      {0, 100, {0}, true},                   // one read of 0 bytes
      {17, 100, {16, 1}, true},              // a full chunk, then the rest
      {32, 100, {16, 16, 0}, true},          // a multiple of 16 ends with a read of 0
      {5, 100, {5}, true},
      {40, 35, {16, 16, 8}, false},          // 5 bytes short: stops at the short chunk
      {64, 20, {16, 16}, false},             // the second chunk delivers 4
      {48, 0, {16}, false},                  // an empty stream
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + ", holds " + std::to_string(c.holds));
    MemoryStream stream(ByteVector(c.holds, 0xAB));
    EXPECT_EQ(SkipBytes(stream, c.size), c.complete);
    EXPECT_EQ(stream.reads(), c.reads);
    EXPECT_LE(stream.position(), c.size);  // never more than the size
  }
}

TEST(StreamNameNumber, LeadingDecimalNumber) {
  struct Case {
    std::u16string name;
    std::optional<int> number;
  };
  const Case cases[] = {
      {u"12.CUTS", 12},
      {u"3.CUTS", 3},
      {u" 7.CAS", 7},
      {u"-2.CAS", -2},
      {u"+5.CUTS", 5},
      {u"\t\n\v\f\r 9.CUTS", 9},  // the "C" locale's white space
      {u"007", 7},
      {u"70000.CUTS", 70000},
      {u"4294967297.CUTS", 1},               // wraps modulo 2^32
      {u"99999999999999999999", 1661992959},
      {u"2147483648", -2147483647 - 1},
      {u"-2147483648", -2147483647 - 1},
      // No number.
      {u"", std::nullopt},
      {u".CUTS", std::nullopt},
      {u"-.CUTS", std::nullopt},
      {u"- 3.CUTS", std::nullopt},    // white space only before the sign
      {u"A1.CUTS", std::nullopt},
      {u"\u00A03.CUTS", std::nullopt},  // no-break space is not white space here
      {u"\uFF13.CUTS", std::nullopt},   // a full-width digit is not a digit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(StreamNameNumber(c.name), c.number);
  }
}

}  // namespace
}  // namespace lumerca
