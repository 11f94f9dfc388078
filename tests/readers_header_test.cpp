// The MARKER stream: 105 bytes of fixed fields, then Text1, Name, Text3, Text4.

#include "model/marker.h"
#include "readers/header.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
namespace {

using testing::Bytes;
using testing::ByteVector;
using testing::HeaderRecipe;
using testing::MemoryStream;
using Reads = std::vector<std::uint32_t>;

// The 105-byte fixed part with the four text lengths.
Bytes FixedPart(std::int16_t text1, std::int16_t name, std::int16_t text3, std::int16_t text4) {
  Bytes b;
  b.Fill(6, 0x01)     // Raw1
      .F32(1600.0f)   // Width
      .Fill(10, 0x03) // Raw3
      .F32(0.5f)      // ScaleX
      .F32(0.25f)     // ScaleY
      .Fill(18, 0x06) // Raw6
      .Fill(2, 0x07)  // Raw7
      .Fill(2, 0x08)  // Raw8
      .Fill(2, 0x09)  // Raw9
      .Fill(1, 0x0A)  // Raw10
      .Fill(40, 0x0B) // Raw11
      .I16(text1).I16(name).I16(text3).I16(text4)
      .Fill(4, 0x10); // Raw16
  return b;
}

TEST(ReadHeader, FixedFieldsAndEmptyTexts) {
  ByteVector bytes = FixedPart(0, 0, 0, 0);
  ASSERT_EQ(bytes.size(), 105u);
  MemoryStream stream(bytes);
  CMarker marker;
  ASSERT_EQ(ReadHeader(marker, stream, 105).outcome, ReadOutcome::Read);
  EXPECT_EQ(stream.reads(),
            Reads({6, 4, 10, 4, 4, 18, 2, 2, 2, 1, 40, 2, 2, 2, 2, 4, 0, 0, 0, 0}));
  EXPECT_EQ(marker.Raw1[5], 0x01);
  EXPECT_EQ(marker.Width, 1600.0f);
  EXPECT_EQ(marker.Raw3[9], 0x03);
  EXPECT_EQ(marker.ScaleX, 0.5f);
  EXPECT_EQ(marker.ScaleY, 0.25f);
  EXPECT_EQ(marker.Raw6[17], 0x06);
  EXPECT_EQ(marker.Raw7[1], 0x07);
  EXPECT_EQ(marker.Raw8[1], 0x08);
  EXPECT_EQ(marker.Raw9[1], 0x09);
  EXPECT_EQ(marker.Raw10[0], 0x0A);
  EXPECT_EQ(marker.Raw11[39], 0x0B);
  EXPECT_EQ(marker.Raw16[3], 0x10);
  EXPECT_STREQ(marker.Text1, "");
  EXPECT_STREQ(marker.Name, "");
  EXPECT_STREQ(marker.Text3, "");
  EXPECT_STREQ(marker.Text4, "");
}

TEST(ReadHeader, NameIsTheSecondText) {
  // Text1Length 3 and NameLength 5: the name stands at offsets 108 to 112.
  ByteVector bytes = FixedPart(3, 5, 2, 1).Text("one").Text("MARKR").Text("t3").Text("4");
  ASSERT_EQ(std::string(bytes.begin() + 108, bytes.begin() + 113), "MARKR");
  MemoryStream stream(bytes);
  CMarker marker;
  ASSERT_EQ(ReadHeader(marker, stream, 0).outcome, ReadOutcome::Read);
  EXPECT_STREQ(marker.Text1, "one");
  EXPECT_STREQ(marker.Name, "MARKR");
  EXPECT_STREQ(marker.Text3, "t3");
  EXPECT_STREQ(marker.Text4, "4");
  EXPECT_EQ(marker.Text1Length, 3);
  EXPECT_EQ(marker.NameLength, 5);
}

TEST(ReadHeader, TextLengthsAtAndBeyondTheBuffer) {
  const std::string full(255, 'N');
  const std::string too_long(300, 'L');
  ByteVector bytes = FixedPart(-4, 255, 300, 2).Text(full).Text(too_long).Text("ok");
  MemoryStream stream(bytes);
  CMarker marker;
  ASSERT_EQ(ReadHeader(marker, stream, 0).outcome, ReadOutcome::Read);
  EXPECT_STREQ(marker.Text1, "");             // negative: empty, nothing consumed
  EXPECT_EQ(std::string(marker.Name), full);  // the NUL is the 256th byte
  EXPECT_EQ(marker.Name[255], '\0');
  EXPECT_EQ(std::string(marker.Text3), too_long.substr(0, 255));
  EXPECT_STREQ(marker.Text4, "ok");  // the cut bytes of Text3 were consumed
  EXPECT_EQ(stream.position(), bytes.size());
}

TEST(ReadHeader, LaterStreamsOverwrite) {
  CMarker marker;
  HeaderRecipe first;
  first.name = "ABCDEFG";
  first.width = 1000.0f;
  HeaderRecipe second;
  second.name = "XY";
  second.width = 2000.0f;
  MemoryStream a(testing::MarkerStream(first)), b(testing::MarkerStream(second));
  ASSERT_EQ(ReadHeader(marker, a, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(ReadHeader(marker, b, 0).outcome, ReadOutcome::Read);
  EXPECT_EQ(marker.Width, 2000.0f);
  // The buffer is not cleared: the bytes behind the NUL keep what they held.
  const char expected[8] = {'X', 'Y', '\0', 'D', 'E', 'F', 'G', '\0'};
  EXPECT_EQ(std::memcmp(marker.Name, expected, sizeof expected), 0);
}

// A stream cut short keeps what arrived: the fields that did not arrive read
// as zero, the texts are cut where the bytes ended. What is missing is used
// by the output files when the stream ends before the end of the name (the
// fixed fields, Text1 and the name's first 255 bytes).
TEST(ReadHeader, ShortStreamsKeepWhatArrived) {
  const ByteVector full = FixedPart(1, 3, 0, 2).Text("a").Text("NEW").Text("zz");
  ASSERT_EQ(full.size(), 111u);
  struct Case {
    std::size_t size;
    const char* place;
    bool used;
    float width, scale_y;
    const char* name;
    const char* text4;
    std::int16_t name_length;
  };
  const Case cases[] = {
      {0, "the field Raw1", true, 0.0f, 0.0f, "", "", 0},
      {8, "the field Width", true, 0.0f, 0.0f, "", "", 0},      // Width half there: missing
      {50, "the field Raw9", true, 1600.0f, 0.25f, "", "", 0},  // the lengths are missing
      {105, "Text1", true, 1600.0f, 0.25f, "", "", 3},          // Text1 stands before the name
      {108, "the name", true, 1600.0f, 0.25f, "NE", "", 3},     // cut where the bytes end
      {109, "Text4", false, 1600.0f, 0.25f, "NEW", "", 3},
      {110, "Text4", false, 1600.0f, 0.25f, "NEW", "z", 3},     // Text4 one byte short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    HeaderRecipe earlier;
    earlier.name = "KEPT";
    earlier.text4 = "four";
    earlier.width = 1234.0f;
    MemoryStream good(testing::MarkerStream(earlier));
    CMarker marker;
    ASSERT_EQ(ReadHeader(marker, good, 0).outcome, ReadOutcome::Read);

    MemoryStream stream(ByteVector(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.size)));
    const StreamRead read = ReadHeader(marker, stream, 0);
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_STREQ(read.place, c.place);
    EXPECT_EQ(read.Used(), c.used);
    EXPECT_EQ(read.arrived, c.size);
    EXPECT_EQ(read.declared, c.size >= 105 ? 111u : 105u);
    EXPECT_EQ(read.declared_known, c.size >= 105);
    EXPECT_EQ(marker.Width, c.width);
    EXPECT_EQ(marker.ScaleY, c.scale_y);
    EXPECT_EQ(marker.NameLength, c.name_length);
    EXPECT_STREQ(marker.Name, c.name);
    EXPECT_STREQ(marker.Text4, c.text4);
    EXPECT_STREQ(marker.Text3, "");
  }
}

// The part of a name beyond its 255 bytes is never used: a stream that ends
// there lacks nothing that the output files use.
TEST(ReadHeader, NameCutBeyondItsBuffer) {
  const std::string long_name(300, 'N');
  const ByteVector full = FixedPart(0, 300, 0, 0).Text(long_name);
  for (std::size_t cut : {105u + 254u, 105u + 255u, 105u + 299u}) {
    SCOPED_TRACE(cut);
    MemoryStream stream(ByteVector(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
    CMarker marker;
    const StreamRead read = ReadHeader(marker, stream, 0);
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_EQ(read.Used(), cut < 105 + 255);
    EXPECT_EQ(std::string(marker.Name), long_name.substr(0, std::min<std::size_t>(cut - 105, 255)));
  }
}

}  // namespace
}  // namespace lumerca
