// The MARKER stream: 105 bytes of fixed fields, then Text1, Name, Text3, Text4.

#include "entry/marker.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace lumerca {
namespace {

using testing::Bytes;
using testing::ByteVector;
using testing::HeaderSpec;
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
  ASSERT_EQ(marker.ReadHeader(stream, 105), ReadOutcome::Read);
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
  ASSERT_EQ(marker.ReadHeader(stream, 0), ReadOutcome::Read);
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
  ASSERT_EQ(marker.ReadHeader(stream, 0), ReadOutcome::Read);
  EXPECT_STREQ(marker.Text1, "");             // negative: empty, nothing consumed
  EXPECT_EQ(std::string(marker.Name), full);  // the NUL is the 256th byte
  EXPECT_EQ(marker.Name[255], '\0');
  EXPECT_EQ(std::string(marker.Text3), too_long.substr(0, 255));
  EXPECT_STREQ(marker.Text4, "ok");  // the cut bytes of Text3 were consumed
  EXPECT_EQ(stream.position(), bytes.size());
}

TEST(ReadHeader, LaterStreamsOverwrite) {
  CMarker marker;
  HeaderSpec first;
  first.name = "ABCDEFG";
  first.width = 1000.0f;
  HeaderSpec second;
  second.name = "XY";
  second.width = 2000.0f;
  MemoryStream a(testing::MarkerStream(first)), b(testing::MarkerStream(second));
  ASSERT_EQ(marker.ReadHeader(a, 0), ReadOutcome::Read);
  ASSERT_EQ(marker.ReadHeader(b, 0), ReadOutcome::Read);
  EXPECT_EQ(marker.Width, 2000.0f);
  // The buffer is not cleared: the bytes behind the NUL keep what they held.
  const char expected[8] = {'X', 'Y', '\0', 'D', 'E', 'F', 'G', '\0'};
  EXPECT_EQ(std::memcmp(marker.Name, expected, sizeof expected), 0);
}

TEST(ReadHeader, ShortStreamsChangeNothing) {
  HeaderSpec spec;
  spec.name = "KEPT";
  spec.text4 = "four";
  spec.width = 1234.0f;
  MemoryStream good(testing::MarkerStream(spec));
  CMarker marker;
  ASSERT_EQ(marker.ReadHeader(good, 0), ReadOutcome::Read);

  const ByteVector full = FixedPart(1, 3, 0, 2).Text("a").Text("NEW").Text("zz");
  const ByteVector cases[] = {
      {},
      ByteVector(full.begin(), full.begin() + 50),   // in the fixed part
      ByteVector(full.begin(), full.begin() + 105),  // no texts at all
      ByteVector(full.begin(), full.end() - 1),      // Text4 one byte short
  };
  for (const ByteVector& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    MemoryStream stream(bytes);
    EXPECT_EQ(marker.ReadHeader(stream, 0), ReadOutcome::Short);
    EXPECT_EQ(marker.Width, 1234.0f);
    EXPECT_EQ(marker.ScaleX, 1.0f);
    EXPECT_EQ(marker.Raw1[0], 0);
    EXPECT_EQ(marker.NameLength, 4);
    EXPECT_EQ(marker.Text4Length, 4);
    EXPECT_STREQ(marker.Name, "KEPT");
    EXPECT_STREQ(marker.Text1, "");
    EXPECT_STREQ(marker.Text4, "four");
  }
}

}  // namespace
}  // namespace lumerca
