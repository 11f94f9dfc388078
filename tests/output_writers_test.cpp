// The model-and-order file, the piece position file and the index check
// before them, from models built in memory.

#include "model/index.h"
#include "model/marker.h"
#include "output/normalize.h"
#include "output/printf_file.h"
#include "output/writers.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca {

using namespace lumerca::model;
using namespace lumerca::output;
using namespace lumerca::platform;
namespace {

using COneSplit = CSplits::CElement::COneSplit;

class StringSink : public TextSink {
public:
  void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

std::string ModelOrderFile(const CMarker& marker) {
  StringSink sink;
  CPrintfFile file(sink);
  WriteModelOrderFile(marker, ModelIndex(marker), CurrentCodePage(), FieldText(marker.Name), file);
  file.Close();
  return sink.bytes;
}

std::string PositionFile(const CMarker& marker) {
  StringSink sink;
  CPrintfFile file(sink);
  WritePositionFile(marker, ModelIndex(marker), CurrentCodePage(), file);
  file.Close();
  return sink.bytes;
}

// The check that runs before the writers, raising what it finds.
void ValidateIndexes(const CMarker& marker) {
  const std::string bad = CheckIndexes(marker, ModelIndex(marker));
  if (!bad.empty()) throw IndexOutOfRange(bad);
}

void BuildModelList(const CMarker& marker, std::vector<std::string>& names,
                    std::vector<std::uint16_t>& kinds) {
  ClassNames classes(marker, CurrentCodePage());
  output::BuildModelList(marker, ModelIndex(marker), classes,
                         NormalizeName(FieldText(marker.Name)), names, kinds);
}

// Lines, each ended by CR LF.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string OrderHead(std::string_view name) {
  return Lines({"=:order", std::string("o:") + std::string(name), "d:lmr-import", "w:62.992126",
                "xs:0.000000", "ys:0.000000"});
}

// ------------------------------------------------------------ model builders

void SetHeader(CMarker& marker, std::string_view name, float width = 1600.0f,
               float scale_x = 1.0f, float scale_y = 1.0f) {
  std::memset(marker.Name, 0, sizeof(marker.Name));
  std::memcpy(marker.Name, name.data(), name.size());
  marker.NameLength = static_cast<std::int16_t>(name.size());
  marker.Width = width;
  marker.ScaleX = scale_x;
  marker.ScaleY = scale_y;
}

std::int16_t AddSize(CMarker& marker, std::uint8_t number) {
  CSizesElement size{};
  size.SizeNumber = number;
  marker.m_sizes.Elements.Add(size);
  marker.m_sizes.Count = static_cast<std::int16_t>(marker.m_sizes.Elements.GetSize());
  return static_cast<std::int16_t>(marker.m_sizes.Elements.GetSize() - 1);
}

std::int16_t AddClass(CMarker& marker, std::string_view name) {
  CClassesElement record{};
  std::memcpy(record.Name, name.data(), name.size());
  record.NameLength = static_cast<std::int16_t>(name.size());
  marker.m_classes.Elements.Add(record);
  marker.m_classes.Count = static_cast<std::int16_t>(marker.m_classes.Elements.GetSize());
  return static_cast<std::int16_t>(marker.m_classes.Elements.GetSize() - 1);
}

std::int16_t AddCroix(CMarker& marker, std::int16_t size_index, std::int16_t class_index) {
  CCroixesElement croix{};
  croix.SizeIndex = size_index;
  croix.ClassIndex = class_index;
  marker.m_croixes.Elements.Add(croix);
  marker.m_croixes.Count = static_cast<std::int16_t>(marker.m_croixes.Elements.GetSize());
  return static_cast<std::int16_t>(marker.m_croixes.Elements.GetSize() - 1);
}

CMarkerPiece PieceRecord(std::int16_t croix_index) {
  CMarkerPiece piece{};
  piece.CroixIndex = croix_index;
  return piece;
}

std::uint16_t AddPiece(CMarker& marker, const CMarkerPiece& piece) {
  marker.m_pieces.Add(piece);
  return static_cast<std::uint16_t>(marker.m_pieces.GetSize() - 1);
}

// A piece of the given size and class, with a CROIXES record of its own.
std::uint16_t AddPieceOf(CMarker& marker, std::int16_t size_index, std::int16_t class_index) {
  return AddPiece(marker, PieceRecord(AddCroix(marker, size_index, class_index)));
}

void AddHalf(CMarker& marker, std::int16_t piece_index) {
  CHalfsElement half{};
  half.PieceIndex = piece_index;
  marker.m_halfs.Elements.Add(half);
  marker.m_halfs.Count = static_cast<std::int16_t>(marker.m_halfs.Elements.GetSize());
}

COneSplit Split(float a1, float b1, float a2, float b2, std::uint16_t kind, double offset) {
  COneSplit split;
  split.A1 = a1;
  split.B1 = b1;
  split.A2 = a2;
  split.B2 = b2;
  split.Kind = kind;
  split.Offset = offset;
  split.Side = -7;  // never read: the writer sets it
  return split;
}

void AddCuts(CMarker& marker, std::uint16_t piece_index, const std::vector<COneSplit>& splits,
             std::optional<std::int16_t> split_count = std::nullopt) {
  CSplits::CElement element;
  element.PieceIndex = piece_index;
  element.SplitCount = split_count.value_or(static_cast<std::int16_t>(splits.size()));
  for (const COneSplit& split : splits) element.Splits.Add(split);
  marker.m_splits.Elements.Add(std::move(element));
}

// One piece of size 38, class FRONT, with the placement of the example.
std::uint16_t AddExamplePiece(CMarker& marker) {
  SetHeader(marker, "EXAMPLE");
  const std::int16_t size = AddSize(marker, 38);
  const std::int16_t front = AddClass(marker, "FRONT");
  CMarkerPiece piece = PieceRecord(AddCroix(marker, size, front));
  piece.Attr5 = 0;
  piece.Attr2 = 1;
  piece.Attr4 = 90.0f;
  piece.PlaceX = 100.0f;
  piece.MinX = -20.0f;
  piece.MaxX = 60.0f;
  piece.PlaceY = 50.0f;
  piece.MinY = -10.0f;
  piece.MaxY = 30.0f;
  return AddPiece(marker, piece);
}

const char* const kExamplePieceLine =
    "FRONT,38,0,1,90.000000,120.000000,60.000000,80.000000,40.000000,";

// ------------------------------------------------------------ model and order

TEST(ModelOrderFileTest, BlouseExample) {
  CMarker marker;
  SetHeader(marker, "Blouse.2", 1600.0f, 0.98f, 1.0f);
  for (std::uint8_t number : {std::uint8_t{38}, std::uint8_t{40}, std::uint8_t{42}, std::uint8_t{44}}) AddSize(marker, number);
  const std::int16_t front = AddClass(marker, "FRONT");
  const std::int16_t back = AddClass(marker, "BACK");
  const std::int16_t sleeve = AddClass(marker, "SLEEVE");
  // Pieces of sizes 38 and 40 interleaved: each size lists its own in order.
  AddPieceOf(marker, 1, front);
  AddPieceOf(marker, 0, front);
  AddPieceOf(marker, 1, back);
  AddPieceOf(marker, 0, back);
  AddPieceOf(marker, 2, front);
  AddPieceOf(marker, 2, sleeve);

  EXPECT_EQ(ModelOrderFile(marker), Lines({"=:model", "m:B------2-38", "p:FRONT", "i:1", "p:BACK",
                                           "i:1", "=:model", "m:B------2-42", "p:FRONT", "i:1",
                                           "p:SLEEVE", "i:1", "=:order", "o:B------2",
                                           "d:lmr-import", "w:62.992126", "xs:2.040814",
                                           "ys:0.000000", "m:B------2-38", "q:1", "s:38", "q:1",
                                           "s:40", "m:B------2-42", "q:1", "s:42"}));

  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds;
  BuildModelList(marker, names, kinds);
  EXPECT_EQ(names, (std::vector<std::string>{"B------2-38", "B------2-40", "B------2-42",
                                             "B------2-44"}));
  EXPECT_EQ(kinds, (std::vector<std::uint16_t>{CMarker::ModelNew, CMarker::ModelSame,
                                               CMarker::ModelNew, CMarker::ModelEmpty}));
}

TEST(ModelOrderFileTest, NoSizesWritesTheOrderSectionOnly) {
  CMarker marker;
  SetHeader(marker, "MODEL 1.2");
  // Nothing of the pieces is followed without a size, not even a bad index.
  AddPiece(marker, PieceRecord(99));
  EXPECT_EQ(ModelOrderFile(marker), OrderHead("MODEL 1-2"));
  EXPECT_EQ(PositionFile(marker), "");
  EXPECT_NO_THROW(ValidateIndexes(marker));
}

TEST(ModelOrderFileTest, HalfPiecesCountForTheModelButAreNotListed) {
  CMarker marker;
  SetHeader(marker, "M");
  const std::int16_t a = AddClass(marker, "A");
  const std::int16_t b = AddClass(marker, "B");
  AddSize(marker, 1);
  AddSize(marker, 2);
  AddSize(marker, 3);
  // Size 1: only half pieces A, B. Size 2: A (half), B. Size 3: A, C.
  AddHalf(marker, static_cast<std::int16_t>(AddPieceOf(marker, 0, a)));
  AddHalf(marker, static_cast<std::int16_t>(AddPieceOf(marker, 0, b)));
  AddHalf(marker, static_cast<std::int16_t>(AddPieceOf(marker, 1, a)));
  AddPieceOf(marker, 1, b);
  AddPieceOf(marker, 2, a);
  AddPieceOf(marker, 2, AddClass(marker, "C"));
  AddHalf(marker, -1);    // names no piece
  AddHalf(marker, 1000);  // names no piece

  EXPECT_EQ(ModelOrderFile(marker),
            Lines({"=:model", "m:M-1", "=:model", "m:M-3", "p:A", "i:1", "p:C", "i:1"}) +
                OrderHead("M") + Lines({"m:M-1", "q:1", "s:1", "q:1", "s:2", "m:M-3", "q:1", "s:3"}));
  EXPECT_EQ(PositionFile(marker), Lines({"B,2,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0",
                                         "A,3,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0",
                                         "C,3,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,0"}));
}

TEST(ModelOrderFileTest, RepeatedSizeNumbersGetTheSizeIndex) {
  CMarker marker;
  SetHeader(marker, "Blouse.2");
  const std::int16_t front = AddClass(marker, "FRONT");
  for (int number : {38, 38, 40, 38}) {
    AddPieceOf(marker, AddSize(marker, static_cast<std::uint8_t>(number)), front);
  }

  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds = {CMarker::ModelEmpty};
  names.push_back("left over");
  BuildModelList(marker, names, kinds);
  EXPECT_EQ(names, (std::vector<std::string>{"B------2-38", "B------2-38-1", "B------2-40",
                                             "B------2-38-3"}));
  EXPECT_EQ(kinds, (std::vector<std::uint16_t>{CMarker::ModelNew, CMarker::ModelSame,
                                               CMarker::ModelSame, CMarker::ModelSame}));
  EXPECT_EQ(ModelOrderFile(marker),
            Lines({"=:model", "m:B------2-38", "p:FRONT", "i:1"}) + OrderHead("B------2") +
                Lines({"m:B------2-38", "q:1", "s:38", "q:1", "s:38", "q:1", "s:40", "q:1", "s:38"}));
}

TEST(ModelOrderFileTest, KindsFollowTheClassNameLists) {
  CMarker marker;
  SetHeader(marker, "K");
  const std::int16_t front = AddClass(marker, "FRONT");
  const std::int16_t back = AddClass(marker, "BACK");
  const std::int16_t front_again = AddClass(marker, "front");  // normalises to "-----"
  const std::int16_t dashes = AddClass(marker, "-----");
  for (std::uint8_t number = 1; number <= 7; ++number) AddSize(marker, number);
  AddPieceOf(marker, 0, front);  // FRONT BACK: new
  AddPieceOf(marker, 0, back);
  AddPieceOf(marker, 1, back);  // BACK FRONT: the same names in another order, new
  AddPieceOf(marker, 1, front);
  // Size 2 is empty; size 3 has size 1's list again: new, not the model of a
  // size two before.
  AddPieceOf(marker, 3, back);
  AddPieceOf(marker, 3, front);
  AddPieceOf(marker, 4, back);  // BACK FRONT FRONT: longer, new
  AddPieceOf(marker, 4, front);
  AddPieceOf(marker, 4, front);
  AddPieceOf(marker, 5, front_again);  // "-----" FRONT: new
  AddPieceOf(marker, 5, front);
  AddPieceOf(marker, 6, dashes);  // another class, the same name bytes: same
  AddPieceOf(marker, 6, front);

  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds;
  BuildModelList(marker, names, kinds);
  EXPECT_EQ(kinds, (std::vector<std::uint16_t>{CMarker::ModelNew, CMarker::ModelNew,
                                               CMarker::ModelEmpty, CMarker::ModelNew,
                                               CMarker::ModelNew, CMarker::ModelNew,
                                               CMarker::ModelSame}));
  const std::string file = ModelOrderFile(marker);
  EXPECT_NE(file.find(Lines({"m:K-2", "p:BACK", "i:1", "p:FRONT", "i:1"})), std::string::npos);
  EXPECT_EQ(file.substr(file.find("=:order")),
            OrderHead("K") + Lines({"m:K-1", "q:1", "s:1", "m:K-2", "q:1", "s:2", "m:K-4", "q:1",
                                    "s:4", "m:K-5", "q:1", "s:5", "m:K-6", "q:1", "s:6", "q:1",
                                    "s:7"}));
}

TEST(ModelOrderFileTest, NumbersAndNames) {
  CMarker marker;
  SetHeader(marker, "jacket/A#2.1", 2540.0f, 0.0f, -0.0f);
  AddPieceOf(marker, AddSize(marker, 0xFE), AddClass(marker, "BACK PANEL_L"));
  EXPECT_EQ(ModelOrderFile(marker),
            Lines({"=:model", "m:-------A-2-1-254", "p:BACK PANEL_L", "i:1", "=:order",
                   "o:-------A-2-1", "d:lmr-import", "w:100.000000", "xs:1.#INF00", "ys:-1.#INF00",
                   "m:-------A-2-1-254", "q:1", "s:254"}));

  // A Name field without a NUL ends after its 256 bytes.
  CMarker unterminated;
  std::memset(unterminated.Name, 'N', sizeof(unterminated.Name));
  unterminated.Width = 0.0f;
  unterminated.ScaleX = 2.0f;
  unterminated.ScaleY = 0.5f;
  EXPECT_EQ(ModelOrderFile(unterminated),
            Lines({"=:order", "o:" + std::string(256, 'N'), "d:lmr-import", "w:0.000000",
                   "xs:-50.000000", "ys:100.000000"}));
}

// ------------------------------------------------------------ position file

TEST(PositionFileTest, Example) {
  for (int kind : {2, 3, 4, 5}) {
    CMarker marker;
    AddCuts(marker, AddExamplePiece(marker),
            {Split(0, 0, 10, 0, static_cast<std::uint16_t>(kind), 0.5)});
    EXPECT_EQ(PositionFile(marker),
              Lines({std::string(kExamplePieceLine) + "1",
                     kind % 2 == 0 ? "0.000000,-0.500000,10.000000,-0.500000,0"
                                   : "0.000000,0.500000,10.000000,0.500000,1"}))
        << "Kind " << kind;
    // The model is not changed.
    EXPECT_EQ(marker.m_splits.Elements[0].Splits[0].B1, 0.0f);
    EXPECT_EQ(marker.m_splits.Elements[0].Splits[0].Side, -7);
  }
}

TEST(PositionFileTest, CutLines) {
  CMarker marker;
  const std::uint16_t piece = AddExamplePiece(marker);
  AddCuts(marker, piece,
          {
              Split(1, 2, 3, 4, 0, 5.0),  // kinds 0 and 1 stay where they are
              Split(1, 2, 3, 4, 1, 5.0),
              Split(0, 0, 3, 4, 2, 1.0),  // a quarter turn clockwise from (3, 4)
              Split(0, 0, 3, 4, 3, 1.0),
              Split(7, 7, 7, 7, 2, 1.0),  // coinciding end points have no direction
              Split(7, 7, 7, 7, 3, 1.0),
              // The shift is rounded to a float (349525.34375) before it is
              // added, and the sum, halfway, rounds to the even float.
              Split(0.015625f, 0, 0.015625f, 10, 2, 1048576.0 / 3),
              // Sums beyond the float range become infinite.
              Split(3e38f, 0, 3e38f, 10, 2, 1e38),
          });
  AddCuts(marker, piece, {Split(9, 9, 9, 9, 0, 0)});  // a second element: not used
  EXPECT_EQ(PositionFile(marker),
            Lines({std::string(kExamplePieceLine) + "8", "1.000000,2.000000,3.000000,4.000000,0",
                   "1.000000,2.000000,3.000000,4.000000,1", "0.800000,-0.600000,3.800000,3.400000,0",
                   "-0.800000,0.600000,2.200000,4.600000,1", "7.000000,7.000000,7.000000,7.000000,0",
                   "7.000000,7.000000,7.000000,7.000000,1",
                   "349525.375000,0.000000,349525.375000,10.000000,0",
                   "1.#INF00,0.000000,1.#INF00,10.000000,0"}));
}

TEST(PositionFileTest, SplitCountDecidesHowManyCutLines) {
  for (int count : {1, 0, -3}) {
    CMarker marker;
    AddCuts(marker, AddExamplePiece(marker),
            {Split(1, 1, 2, 2, 0, 0), Split(3, 3, 4, 4, 0, 0), Split(5, 5, 6, 6, 0, 0)},
            static_cast<std::int16_t>(count));
    std::string expected = std::string(kExamplePieceLine) + (count == 1 ? "1\r\n" : "0\r\n");
    if (count == 1) expected += Lines({"1.000000,1.000000,2.000000,2.000000,0"});
    EXPECT_EQ(PositionFile(marker), expected) << count;
    EXPECT_NO_THROW(ValidateIndexes(marker));
  }
  // More than the element holds: an index out of range, found before writing.
  CMarker marker;
  AddCuts(marker, AddExamplePiece(marker), {Split(1, 1, 2, 2, 0, 0)}, 2);
  EXPECT_THROW(ValidateIndexes(marker), IndexOutOfRange);
  EXPECT_THROW(PositionFile(marker), IndexOutOfRange);
}

TEST(PositionFileTest, ColumnsAndWhichPiecesAppear) {
  CMarker marker;
  SetHeader(marker, "P");
  const std::int16_t s10 = AddSize(marker, 10);
  const std::int16_t s20 = AddSize(marker, 20);
  const std::int16_t cls = AddClass(marker, "part.1");
  CMarkerPiece piece = PieceRecord(AddCroix(marker, s20, cls));
  piece.Attr2 = 0xFF;
  piece.Attr5 = 0xFE;
  piece.Attr4 = -1.25f;
  piece.PlaceX = 100.0f;
  piece.MinX = -20.0f;
  piece.MaxX = 30.0f;
  piece.PlaceY = -5.0f;
  piece.MinY = 0.5f;
  piece.MaxY = 0.25f;
  AddPiece(marker, piece);                                   // 0: size 20
  AddPieceOf(marker, s10, cls);                              // 1: size 10
  AddPieceOf(marker, 2, cls);                                // 2: in no size
  AddPieceOf(marker, -1, 99);                                // 3: in no size, class unchecked
  AddHalf(marker, static_cast<std::int16_t>(AddPieceOf(marker, s10, cls)));  // 4: half
  AddCuts(marker, 2, {Split(1, 1, 2, 2, 0, 0)});
  AddCuts(marker, 4, {Split(1, 1, 2, 2, 0, 0)}, 5);  // a half piece is never written
  AddCuts(marker, 1, {Split(1, 1, 2, 2, 1, 0)});

  EXPECT_NO_THROW(ValidateIndexes(marker));
  EXPECT_EQ(PositionFile(marker),
            Lines({"-----1,10,0,0,0.000000,0.000000,0.000000,0.000000,0.000000,1",
                   "1.000000,1.000000,2.000000,2.000000,1",
                   "-----1,20,254,255,-1.250000,105.000000,-4.625000,50.000000,-0.250000,0"}));
}

// ------------------------------------------------------------ index checks

TEST(ValidateIndexesTest, EveryFollowedIndexIsChecked) {
  {  // a half piece's CroixIndex: the model list looks it up
    CMarker marker;
    AddExamplePiece(marker);
    AddHalf(marker, static_cast<std::int16_t>(AddPiece(marker, PieceRecord(5))));
    EXPECT_THROW(ValidateIndexes(marker), IndexOutOfRange);
  }
  {  // a negative CroixIndex
    CMarker marker;
    AddExamplePiece(marker);
    AddPiece(marker, PieceRecord(-1));
    EXPECT_THROW(ValidateIndexes(marker), IndexOutOfRange);
  }
  {  // the ClassIndex of a piece of a size, half or not
    CMarker marker;
    AddExamplePiece(marker);
    AddHalf(marker, static_cast<std::int16_t>(AddPieceOf(marker, 0, 1)));
    EXPECT_THROW(ValidateIndexes(marker), IndexOutOfRange);
    EXPECT_THROW(ModelOrderFile(marker), IndexOutOfRange);
    EXPECT_EQ(PositionFile(marker), std::string(kExamplePieceLine) + "0\r\n");
  }
  {  // pieces in no size are never followed further
    CMarker marker;
    AddExamplePiece(marker);
    AddPieceOf(marker, 1, -5);
    AddCuts(marker, 1, {}, 3);
    EXPECT_NO_THROW(ValidateIndexes(marker));
    EXPECT_NO_THROW(ModelOrderFile(marker));
  }
  try {
    CMarker marker;
    AddExamplePiece(marker);
    AddPiece(marker, PieceRecord(40));
    ValidateIndexes(marker);
    ADD_FAILURE() << "no exception";
  } catch (const IndexOutOfRange& error) {
    EXPECT_STREQ(error.what(), "piece 1: CroixIndex 40 is outside CROIXES (1 records)");
  }
}

// ------------------------------------------------------------ scale

// The largest model the format allows: 65,535 pieces, 32,767 sizes with
// repeating size numbers, 32,767 CROIXES records, 32,767 half pieces, a cut
// stream for every piece. Work that grows with sizes x pieces would not finish
// in time.
TEST(WritersScaleTest, LargestModelIsWrittenInLinearTime) {
  CMarker marker;
  SetHeader(marker, "LARGEST MARKER");
  constexpr int kSizes = 32767;
  constexpr int kCroixes = 32767;
  constexpr int kPieces = 65535;
  constexpr int kHalfs = 32767;
  constexpr int kClasses = 1000;
  for (int i = 0; i < kSizes; ++i) AddSize(marker, static_cast<std::uint8_t>(i % 256));
  for (int c = 0; c < kClasses; ++c) {
    AddClass(marker, std::string(200, static_cast<char>('A' + c % 26)) + std::to_string(c));
  }
  for (int c = 0; c < kCroixes; ++c) {
    AddCroix(marker, static_cast<std::int16_t>((c * 7) % kSizes),
             static_cast<std::int16_t>(c % kClasses));
  }
  marker.m_pieces.Reserve(kPieces);
  for (int j = 0; j < kPieces; ++j) {
    AddPiece(marker, PieceRecord(static_cast<std::int16_t>(j % kCroixes)));
  }
  for (int k = 0; k < kHalfs; ++k) AddHalf(marker, static_cast<std::int16_t>(k));
  for (int j = 0; j < kPieces; ++j) {
    AddCuts(marker, static_cast<std::uint16_t>(j),
            {Split(0, 0, 1, 1, 2, 0.5), Split(0, 0, 1, 1, 3, 0.5)});
  }

  ValidateIndexes(marker);
  const std::string models = ModelOrderFile(marker);
  const std::string positions = PositionFile(marker);

  std::vector<std::string> names;
  std::vector<std::uint16_t> kinds;
  BuildModelList(marker, names, kinds);
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kSizes));
  EXPECT_EQ(names[256], "LARGEST MARKER-0-256");
  // Every piece that is not a half piece, each with its two cut lines.
  std::size_t lines = 0;
  for (std::size_t at = positions.find("\r\n"); at != std::string::npos;
       at = positions.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 3u * (kPieces - kHalfs));
  EXPECT_NE(models.find("=:order"), std::string::npos);
}

// The library never calls setlocale: the locale that the host set stays.
TEST(WritersLocaleTest, LocaleIsLeftAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  const std::string host = std::setlocale(LC_ALL, nullptr);

  CMarker marker;
  AddCuts(marker, AddExamplePiece(marker), {Split(0, 0, 10, 0, 2, 0.5)});
  ValidateIndexes(marker);
  const std::string models = ModelOrderFile(marker);
  const std::string positions = PositionFile(marker);

  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), host);
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_FALSE(models.empty());
  EXPECT_FALSE(positions.empty());
}

}  // namespace
}  // namespace lumerca
