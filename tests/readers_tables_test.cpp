// The five counted tables: field widths, the text part, signed counts, and
// streams that end before their layout.

#include "readers/tables.h"
#include "tests/support/marker_streams.h"
#include "tests/support/memory_storage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::readers;
namespace {

using testing::Bytes;
using testing::ByteVector;
using testing::MemoryStream;
using Reads = std::vector<std::uint32_t>;

TEST(CCroixes, EighteenBytes) {
  MemoryStream stream({
      0x01, 0x00,              // Count 1
      0xDE, 0xAD, 0xBE, 0xEF,  // Raw1
      0x02, 0x00,              // SizeIndex 2
      0x05, 0x00,              // ClassIndex 5
      1, 2, 3, 4, 5, 6, 7, 8,  // Raw4
      0x99,                    // behind the layout: not read
  });
  CCroixes table;
  ASSERT_EQ(ReadStream(table, stream, 19).outcome, ReadOutcome::Read);
  EXPECT_EQ(table.Count, 1);
  ASSERT_EQ(table.Elements.GetSize(), 1u);
  EXPECT_EQ(table.Elements[0].SizeIndex, 2);
  EXPECT_EQ(table.Elements[0].ClassIndex, 5);
  EXPECT_EQ(table.Elements[0].Raw1[3], 0xEF);
  EXPECT_EQ(table.Elements[0].Raw4[7], 8);
  EXPECT_EQ(stream.reads(), Reads({2, 4, 2, 2, 8}));
}

TEST(CSizes, TwentyBytes) {
  MemoryStream stream({
      0x01, 0x00,              // Count 1
      9, 9, 9, 9,              // Raw1
      0x2A,                    // SizeNumber 42
      7, 7, 7, 7, 7, 7, 7,     // Raw3
      0x02, 0x00,              // NameLength 2
      0x00, 0x00,              // Raw5
      0x4D, 0x31,              // text part: Name "M1"
  });
  CSizes table;
  ASSERT_EQ(ReadStream(table, stream, 20).outcome, ReadOutcome::Read);
  ASSERT_EQ(table.Elements.GetSize(), 1u);
  EXPECT_EQ(table.Elements[0].SizeNumber, 42);
  EXPECT_EQ(std::string(table.Elements[0].Name), "M1");
  EXPECT_EQ(stream.reads(), Reads({2, 4, 1, 7, 2, 2, 2}));
}

TEST(CSizes, TextsFollowAllFixedRecords) {
  // Count 2 with NameLength 2 and 0, then two bytes of text.
  ByteVector bytes = Bytes()
                         .I16(2)
                         .Fill(4).U8(1).Fill(7).I16(2).I16(0)   // record 0
                         .Fill(4).U8(2).Fill(7).I16(0).I16(0)   // record 1
                         .Text("XS")                            // record 0's name
                         .Text("tail");                         // not read
  MemoryStream stream(bytes);
  CSizes table;
  ASSERT_EQ(ReadStream(table, stream, static_cast<std::uint32_t>(bytes.size())).outcome, ReadOutcome::Read);
  ASSERT_EQ(table.Elements.GetSize(), 2u);
  EXPECT_EQ(std::string(table.Elements[0].Name), "XS");
  EXPECT_EQ(std::string(table.Elements[1].Name), "");
  EXPECT_EQ(stream.position(), 2u + 2 * 16 + 2);
}

TEST(CClasses, ReadOrder) {
  // Count, fixed record 0, fixed record 1, Name 0, Text 0, Name 1, Text 1; the
  // lengths 1 to 4 make the order visible in the reads.
  ByteVector bytes = Bytes()
                         .I16(2)
                         .Fill(4).I16(1).I16(2).I16(0)
                         .Fill(4).I16(3).I16(4).I16(0)
                         .Text("a").Text("bb").Text("ccc").Text("dddd");
  MemoryStream stream(bytes);
  CClasses table;
  ASSERT_EQ(ReadStream(table, stream, 0).outcome, ReadOutcome::Read);
  EXPECT_EQ(stream.reads(), Reads({2, 4, 2, 2, 2, 4, 2, 2, 2, 1, 2, 3, 4}));
  ASSERT_EQ(table.Elements.GetSize(), 2u);
  EXPECT_EQ(std::string(table.Elements[0].Name), "a");
  EXPECT_EQ(std::string(table.Elements[0].Text), "bb");
  EXPECT_EQ(std::string(table.Elements[1].Name), "ccc");
  EXPECT_EQ(std::string(table.Elements[1].Text), "dddd");
}

TEST(CStylesAndHalfs, Records) {
  {
    MemoryStream stream({
        0x01, 0x00,  // Count 1
        0x07, 0x00,  // Raw1
        0x03, 0x00,  // NameLength 3
        0x08, 0x00,  // Raw3
        'S', 'T', 'Y',
    });
    CStyles table;
    ASSERT_EQ(ReadStream(table, stream, 11).outcome, ReadOutcome::Read);
    ASSERT_EQ(table.Elements.GetSize(), 1u);
    EXPECT_EQ(table.Elements[0].Raw1, 7);
    EXPECT_EQ(table.Elements[0].Raw3, 8);
    EXPECT_EQ(std::string(table.Elements[0].Name), "STY");
    EXPECT_EQ(stream.reads(), Reads({2, 2, 2, 2, 3}));
  }
  {
    // Count 3: exactly 2 + 3 * 16 bytes are read.
    ByteVector bytes = testing::HalfsStream({4, -1, 7});
    bytes.resize(bytes.size() + 10, 0xEE);
    MemoryStream stream(bytes);
    CHalfs table;
    ASSERT_EQ(ReadStream(table, stream, 0).outcome, ReadOutcome::Read);
    ASSERT_EQ(table.Elements.GetSize(), 3u);
    EXPECT_EQ(table.Elements[0].PieceIndex, 4);
    EXPECT_EQ(table.Elements[1].PieceIndex, -1);
    EXPECT_EQ(table.Elements[2].PieceIndex, 7);
    EXPECT_EQ(stream.position(), 50u);
    EXPECT_EQ(Reads(stream.reads().begin(), stream.reads().begin() + 4), Reads({2, 12, 2, 2}));
  }
}

TEST(CountedTables, CountsOfZeroOrLess) {
  // The count is signed: 0x8000 and 0xFFFF are negative. No record is read and
  // Count keeps the value.
  const std::uint16_t words[] = {0x0000, 0x8000, 0xFFFF};
  for (std::uint16_t word : words) {
    SCOPED_TRACE(word);
    ByteVector bytes = Bytes().U16(word).Fill(64, 0x01);
    MemoryStream stream(bytes);
    CCroixes table;
    ASSERT_EQ(ReadStream(table, stream, 66).outcome, ReadOutcome::Read);
    EXPECT_EQ(table.Count, static_cast<std::int16_t>(word));
    EXPECT_TRUE(table.Elements.IsEmpty());
    EXPECT_EQ(stream.reads(), Reads({2}));
  }
}

TEST(CountedTables, TextLengthsOutsideTheBuffers) {
  // SIZES names hold at most 19 bytes. A 19-byte name fits; a 25-byte name is
  // cut to 19 and its other bytes consumed; a negative length is empty and
  // consumes nothing.
  const std::string nineteen(19, 'n');
  const std::string long_name = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  ByteVector bytes = Bytes()
                         .I16(4)
                         .Fill(4).U8(1).Fill(7).I16(19).I16(0)
                         .Fill(4).U8(2).Fill(7).I16(25).I16(0)
                         .Fill(4).U8(3).Fill(7).I16(-5).I16(0)
                         .Fill(4).U8(4).Fill(7).I16(2).I16(0)
                         .Text(nineteen).Text(long_name).Text("OK");
  MemoryStream stream(bytes);
  CSizes table;
  ASSERT_EQ(ReadStream(table, stream, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(table.Elements.GetSize(), 4u);
  EXPECT_EQ(std::string(table.Elements[0].Name), nineteen);
  EXPECT_EQ(std::string(table.Elements[1].Name), long_name.substr(0, 19));
  EXPECT_EQ(std::string(table.Elements[2].Name), "");
  EXPECT_EQ(std::string(table.Elements[3].Name), "OK");
  EXPECT_EQ(stream.position(), bytes.size());

  // CLASSES texts hold 255 bytes; double-byte code-page bytes are kept as read.
  const std::string dbcs = "\x82\xA0\x82\xA2";
  const std::string long_text(300, 't');
  ByteVector classes = Bytes()
                           .I16(1)
                           .Fill(4).I16(4).I16(300).I16(0)
                           .Text(dbcs).Text(long_text);
  MemoryStream class_stream(classes);
  CClasses class_table;
  ASSERT_EQ(ReadStream(class_table, class_stream, 0).outcome, ReadOutcome::Read);
  EXPECT_EQ(std::string(class_table.Elements[0].Name), dbcs);
  EXPECT_EQ(std::string(class_table.Elements[0].Text), long_text.substr(0, 255));
}

// A table cut short keeps its records whose fixed part arrived whole, their
// texts cut where the bytes ended, and counts what it kept. Whether what is
// missing is used: the fixed records of SIZES but not their names; the names
// of CLASSES (and each Text that stands before a name) but not the last Text.
TEST(CountedTables, ShortStreamsKeepTheWholeRecords) {
  const ByteVector classes = testing::ClassesStream({{"three", "3"}, {"four", "44"}});
  // count 2, fixed 2 x 10, "three" "3" "four" "44": 34 bytes
  ASSERT_EQ(classes.size(), 34u);
  struct Case {
    const char* what;
    std::size_t size;
    std::vector<std::string> names, texts;  // of the records added
    const char* place;
    std::int64_t place_index;
    bool used;
  };
  const Case cases[] = {
      {"nothing of what is listed", 0, {}, {}, "the record count", -1, true},
      {"half a count", 1, {}, {}, "the record count", -1, true},
      {"in the first fixed record", 8, {}, {}, "the fixed record of class", 0, true},
      {"in the second fixed record", 20, {""}, {""}, "the fixed record of class", 1, true},
      {"in the first name", 24, {"th", "" }, {"", ""}, "the name of class", 0, true},
      {"in the first text", 27, {"three", ""}, {"", ""}, "the text of class", 0, true},
      {"in the second name", 30, {"three", "fo"}, {"3", ""}, "the name of class", 1, true},
      {"in the last text", 33, {"three", "four"}, {"3", "4"}, "the text of class", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CClasses table;
    MemoryStream first_stream(testing::ClassesStream({{"one", "1"}}));
    ASSERT_EQ(ReadStream(table, first_stream, 0).outcome, ReadOutcome::Read);
    MemoryStream stream(ByteVector(classes.begin(), classes.begin() + static_cast<std::ptrdiff_t>(c.size)));
    // The storage lists the whole stream; fewer bytes arrive.
    const StreamRead read = ReadStream(table, stream, static_cast<std::uint32_t>(classes.size()));
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_STREQ(read.place, c.place);
    EXPECT_EQ(read.place_index, c.place_index);
    EXPECT_EQ(read.Used(), c.used);
    EXPECT_EQ(read.arrived, c.size);
    EXPECT_EQ(read.kept_records, static_cast<std::int64_t>(c.names.size()));
    EXPECT_EQ(table.Count, static_cast<std::int16_t>(c.names.size()));
    ASSERT_EQ(table.Elements.GetSize(), 1 + c.names.size());
    EXPECT_EQ(std::string(table.Elements[0].Name), "one");
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(std::string(table.Elements[1 + i].Name), c.names[i]);
      EXPECT_EQ(std::string(table.Elements[1 + i].Text), c.texts[i]);
    }
  }
}

// A stream listed as empty holds a count of 0: no records, nothing missing.
TEST(CountedTables, AnEmptyStreamHoldsNoRecords) {
  CHalfs halfs;
  MemoryStream stream(ByteVector{});
  const StreamRead read = ReadStream(halfs, stream, 0);
  EXPECT_EQ(read.outcome, ReadOutcome::Read);
  EXPECT_FALSE(read.Used());
  EXPECT_EQ(read.declared, 0u);
  EXPECT_EQ(halfs.Count, 0);
  EXPECT_EQ(halfs.Elements.GetSize(), 0u);
}

// The same cut in each table: in its last fixed record, and in its text part.
TEST(CountedTables, WhatEachTableUses) {
  // Cut in a fixed record, the lengths of the records that did not arrive
  // are unknown: the bytes declared are those known, at least.
  struct Case {
    const char* what;
    ByteVector bytes;
    std::size_t cut;  // bytes left off the end
    bool used;
    std::int64_t kept;
    std::uint64_t declared;
  };
  const Case cases[] = {
      {"STYLES fixed", testing::StylesStream({"A", "B"}), 3, false, 1, 2 + 12 + 1},
      {"STYLES name", testing::StylesStream({"A", "BB"}), 1, false, 2, 2 + 12 + 3},
      {"SIZES fixed", testing::SizesStream({{1, "S"}, {2, "M"}}), 3, true, 1, 2 + 32 + 1},
      {"SIZES name", testing::SizesStream({{1, "S"}, {2, "MM"}}), 1, false, 2, 2 + 32 + 3},
      {"CROIXES", testing::CroixesStream({{0, 0}, {1, 1}}), 1, true, 1, 2 + 32},
      {"HALFS", testing::HalfsStream({1, 2}), 1, true, 1, 2 + 32},
  };
  const auto read_into = [](const char* what, MemoryStream& stream, std::int16_t& count) {
    const std::string table = what;
    if (table.starts_with("STYLES")) { CStyles t; auto r = ReadStream(t, stream, 0); count = t.Count; return r; }
    if (table.starts_with("SIZES")) { CSizes t; auto r = ReadStream(t, stream, 0); count = t.Count; return r; }
    if (table.starts_with("CROIXES")) { CCroixes t; auto r = ReadStream(t, stream, 0); count = t.Count; return r; }
    CHalfs t;
    auto r = ReadStream(t, stream, 0);
    count = t.Count;
    return r;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStream stream(ByteVector(c.bytes.begin(), c.bytes.end() - static_cast<std::ptrdiff_t>(c.cut)));
    std::int16_t count = 0;
    const StreamRead read = read_into(c.what, stream, count);
    EXPECT_EQ(read.outcome, ReadOutcome::Short);
    EXPECT_EQ(read.Used(), c.used);
    EXPECT_EQ(read.declared, c.declared);
    EXPECT_EQ(read.declared_known, c.declared == c.bytes.size());
    EXPECT_EQ(read.arrived, c.bytes.size() - c.cut);
    EXPECT_EQ(read.kept_records, c.kept);
    EXPECT_EQ(read.declared_records, 2);
    EXPECT_EQ(count, c.kept);
  }
  // 4 bytes that declare 32767 records: nothing is kept, nothing allocated
  // for the records that are not there, and no read past the first record.
  MemoryStream huge({0xFF, 0x7F, 0x00, 0x00});
  CCroixes table;
  const StreamRead read = ReadStream(table, huge, 0);
  EXPECT_EQ(read.declared, 2u + 32767u * 16);
  EXPECT_EQ(table.Count, 0);
  EXPECT_TRUE(table.Elements.IsEmpty());
  EXPECT_EQ(huge.reads(), Reads({2, 4}));
}

TEST(CountedTables, SecondStreamKeepsItsOwnTexts) {
  // Two SIZES streams (e.g. in two storages): each stream's names go into its
  // own records; Count is the later stream's.
  CSizes table;
  ByteVector first = testing::SizesStream({{36, "S"}, {38, "M"}, {40, "L"}});
  ByteVector second = testing::SizesStream({{42, "XL"}});
  MemoryStream first_stream(first), second_stream(second);
  ASSERT_EQ(ReadStream(table, first_stream, 0).outcome, ReadOutcome::Read);
  ASSERT_EQ(ReadStream(table, second_stream, 0).outcome, ReadOutcome::Read);
  EXPECT_EQ(table.Count, 1);
  ASSERT_EQ(table.Elements.GetSize(), 4u);
  const char* names[] = {"S", "M", "L", "XL"};
  const int numbers[] = {36, 38, 40, 42};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::string(table.Elements[i].Name), names[i]);
    EXPECT_EQ(table.Elements[i].SizeNumber, numbers[i]);
  }
}

}  // namespace
}  // namespace lumerca
