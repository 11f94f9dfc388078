#pragma once

// The marker as data: what lumerca::ReadMarker (<lumerca/marker.h>) delivers.
//
// A marker file holds one record of the MARKER header and the records of its
// tables (STYLES, SIZES, CLASSES, CROIXES, HALFS, PIECES and one .CUTS stream
// per piece with cut lines). Each record type below has the fields of its
// stream record, with the names and types of <lumerca/fields.h>, in stream
// order: numbers as their type, the uninterpreted Raw fields as byte arrays,
// texts as the bytes kept (in the ANSI code page the marker was read with, up
// to the first NUL and at most the 255, 49 or 19 bytes that the files use).
//
// A Marker adds what the two output files derive from the records: which
// pieces are half pieces, each piece's size, class, centre, extent and cut
// lines as the position file writes them, and each size's model. A Marker is
// immutable and cheap to copy (copies share the data); it may be used from
// several threads at once.

#include <lumerca/export.h>
#include <lumerca/fields.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumerca {

namespace detail {
template <class T>
struct FieldType {
  using type = T;
};
template <class T, std::size_t N>
struct FieldType<T[N]> {
  using type = std::array<T, N>;
};
template <class T>
using FieldTypeOf = typename FieldType<T>::type;
struct MarkerData;
}  // namespace detail

#define LUMERCA_DETAIL_FIELD(type, name, extent) ::lumerca::detail::FieldTypeOf<type extent> name{};
#define LUMERCA_DETAIL_TEXT(name, length, capacity) std::string name;

// The MARKER header: Width in millimetres, the scale factors, the four texts
// (the marker's stored name is Name) and the fields stored as read.
struct MarkerHeader {
  LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_DETAIL_FIELD)
  LUMERCA_MARKER_TEXTS(LUMERCA_DETAIL_TEXT)

  friend bool operator==(const MarkerHeader&, const MarkerHeader&) = default;
};

// A record of STYLES (kept, used by no output file).
struct StyleRecord {
  LUMERCA_STYLE_FIELDS(LUMERCA_DETAIL_FIELD)
  LUMERCA_STYLE_TEXTS(LUMERCA_DETAIL_TEXT)

  friend bool operator==(const StyleRecord&, const StyleRecord&) = default;
};

// A record of SIZES; its position in the table is its size index.
struct SizeRecord {
  LUMERCA_SIZE_FIELDS(LUMERCA_DETAIL_FIELD)
  LUMERCA_SIZE_TEXTS(LUMERCA_DETAIL_TEXT)

  friend bool operator==(const SizeRecord&, const SizeRecord&) = default;
};

// A record of CLASSES: Name is the piece name that the files write
// (normalised); its position in the table is its class index.
struct ClassRecord {
  LUMERCA_CLASS_FIELDS(LUMERCA_DETAIL_FIELD)
  LUMERCA_CLASS_TEXTS(LUMERCA_DETAIL_TEXT)

  friend bool operator==(const ClassRecord&, const ClassRecord&) = default;
};

// A record of CROIXES: the size and the class of the pieces that name it.
struct CroixRecord {
  LUMERCA_CROIX_FIELDS(LUMERCA_DETAIL_FIELD)

  friend bool operator==(const CroixRecord&, const CroixRecord&) = default;
};

// A record of HALFS: the piece it names is a half piece.
struct HalfRecord {
  LUMERCA_HALF_FIELDS(LUMERCA_DETAIL_FIELD)

  friend bool operator==(const HalfRecord&, const HalfRecord&) = default;
};

// A record of PIECES: one placed piece (placement and extent relative to it
// in the same units as the marker's width).
struct PieceRecord {
  LUMERCA_PIECE_FIELDS(LUMERCA_DETAIL_FIELD)

  friend bool operator==(const PieceRecord&, const PieceRecord&) = default;
};

// A cut line as its .CUTS stream holds it, with the offset distance decoded
// from OffsetCode (0 for code 0, else 2^(code/128 - 127)).
struct SplitRecord {
  LUMERCA_SPLIT_FIELDS(LUMERCA_DETAIL_FIELD)
  double Offset = 0;

  friend bool operator==(const SplitRecord&, const SplitRecord&) = default;
};

// One .CUTS stream: the cut lines of the piece PieceIndex (the number that
// begins the stream's name, low 16 bits). SplitCount is the count the stream
// declares (of a stream cut short, the cut lines kept).
struct CutsElement {
  LUMERCA_CUTS_HEADER_FIELDS(LUMERCA_DETAIL_FIELD)
  std::uint16_t PieceIndex = 0;
  std::vector<SplitRecord> Splits;

  friend bool operator==(const CutsElement&, const CutsElement&) = default;
};

#undef LUMERCA_DETAIL_FIELD
#undef LUMERCA_DETAIL_TEXT

// A counted table: the count the stream gave (of several streams of the table,
// the last one's; of a stream cut short, the records kept) and the records.
template <class Record>
struct Table {
  std::int16_t Count = 0;
  std::vector<Record> Records;

  friend bool operator==(const Table&, const Table&) = default;
};

// Calls f(name, value) for every field of a record in stream order, the fixed
// fields first, then the texts: f("SizeNumber", std::uint8_t{38}), ...
#define LUMERCA_DETAIL_VISIT(type, name, extent) f(#name, record.name);
#define LUMERCA_DETAIL_VISIT_TEXT(name, length, capacity) f(#name, record.name);
#define LUMERCA_DETAIL_FOR_EACH_FIELD(Record, FIELDS, TEXTS) \
  template <class F>                                          \
  void ForEachField(const Record& record, F&& f) {            \
    FIELDS(LUMERCA_DETAIL_VISIT)                              \
    TEXTS(LUMERCA_DETAIL_VISIT_TEXT)                          \
  }
#define LUMERCA_DETAIL_NO_TEXTS(T)
LUMERCA_DETAIL_FOR_EACH_FIELD(MarkerHeader, LUMERCA_MARKER_FIXED_FIELDS, LUMERCA_MARKER_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(StyleRecord, LUMERCA_STYLE_FIELDS, LUMERCA_STYLE_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(SizeRecord, LUMERCA_SIZE_FIELDS, LUMERCA_SIZE_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(ClassRecord, LUMERCA_CLASS_FIELDS, LUMERCA_CLASS_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(CroixRecord, LUMERCA_CROIX_FIELDS, LUMERCA_DETAIL_NO_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(HalfRecord, LUMERCA_HALF_FIELDS, LUMERCA_DETAIL_NO_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(PieceRecord, LUMERCA_PIECE_FIELDS, LUMERCA_DETAIL_NO_TEXTS)
LUMERCA_DETAIL_FOR_EACH_FIELD(SplitRecord, LUMERCA_SPLIT_FIELDS, LUMERCA_DETAIL_NO_TEXTS)
#undef LUMERCA_DETAIL_FOR_EACH_FIELD
#undef LUMERCA_DETAIL_NO_TEXTS
#undef LUMERCA_DETAIL_VISIT
#undef LUMERCA_DETAIL_VISIT_TEXT

// A cut line as the position file writes it: for a Kind other than 0 and 1
// moved by Offset at right angles to itself (Side 0 to the right of the
// direction from (A1, B1) to (A2, B2), Side 1 to the left), relative to the
// piece's placement.
struct CutLine {
  float A1 = 0, B1 = 0, A2 = 0, B2 = 0;
  int Side = 0;  // the lowest bit of Kind

  friend bool operator==(const CutLine&, const CutLine&) = default;
};

// A placed piece with what the output files derive from it.
struct Piece {
  std::size_t index = 0;  // its position in the pieces table: its piece index
  PieceRecord record;
  bool half = false;      // a HALFS record names it: it is in neither file's piece lists
  bool written = false;   // the position file has a line for it (it is no half piece and
                          // its CROIXES record names a size)
  // Of its CROIXES record (none when CroixIndex names no record):
  std::optional<std::int16_t> size_index;   // SizeIndex
  std::optional<std::int16_t> class_index;  // ClassIndex
  // Of the size and the class they name (none when they name no record):
  std::optional<std::uint8_t> size_number;  // SizeNumber, the second column of its line
  std::optional<std::string> class_name;    // the class's Name as stored
  std::string written_name;  // the class name normalised, as the files write it
  // Centre (placement plus the middle of the extent) and extent, as the
  // position file writes them.
  double centre_x = 0, centre_y = 0, extent_x = 0, extent_y = 0;
  // The .CUTS element (position in Marker::Splits()) whose cut lines it takes:
  // the first whose PieceIndex is this piece's index; -1 for none.
  std::int32_t cuts_element = -1;
  // Its cut lines as the position file writes them: the element's first
  // SplitCount cut lines, each moved as its Kind says.
  std::vector<CutLine> cut_lines;

  friend bool operator==(const Piece&, const Piece&) = default;
};

// A size as the model-and-order file lists it.
struct SizeModel {
  enum class Kind {
    New,    // the size has pieces, and its class names differ from the previous size's
    Same,   // the previous size's model: the same class names in the same order
    Empty,  // no piece belongs to the size
  };
  std::size_t index = 0;            // its size index
  std::uint8_t size_number = 0;     // SizeNumber
  std::string model_name;           // "m:": the marker name, "-" and the size number (and
                                    // "-" and the index for a name already taken)
  Kind kind = Kind::Empty;
  std::size_t pieces = 0;           // its pieces that the files list (half pieces left out)

  friend bool operator==(const SizeModel&, const SizeModel&) = default;
};

// A marker as read from a marker file, and what the output files derive from
// it. Default-constructed: an empty marker (no header values, no records).
class LUMERCA_API Marker {
public:
  Marker() noexcept;

  // The ANSI code page of its texts, in which names are normalised.
  unsigned CodePage() const noexcept;

  const MarkerHeader& Header() const noexcept;
  // The marker's name as the files write it ("o:"): the stored name,
  // normalised in CodePage().
  const std::string& Name() const noexcept;
  // "w:": Width / 10 / 2.54; "xs:", "ys:": (1 / ScaleX - 1) * 100 and the same of
  // ScaleY (infinite for a scale factor of 0).
  double WidthInches() const noexcept;
  double ScaleXPercent() const noexcept;
  double ScaleYPercent() const noexcept;

  // The tables, as copies of their records.
  Table<StyleRecord> Styles() const;
  Table<SizeRecord> Sizes() const;
  Table<ClassRecord> Classes() const;
  Table<CroixRecord> Croixes() const;
  Table<HalfRecord> Halfs() const;
  std::vector<CutsElement> Splits() const;

  // The pieces: their number, one piece (std::out_of_range beyond the last)
  // and all of them.
  std::size_t PieceCount() const noexcept;
  Piece PieceAt(std::size_t index) const;
  std::vector<Piece> Pieces() const;

  // The sizes as the model-and-order file lists them. Empty for a marker
  // whose cross-references do not hold (see ReadResult::status).
  std::vector<SizeModel> Models() const;

private:
  friend struct detail::MarkerData;
  std::shared_ptr<const detail::MarkerData> data_;
};

}  // namespace lumerca
