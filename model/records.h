#pragma once

// The records of a marker file's tables as the model holds them: each a
// packed structure whose fields stand in the order and width of the stream
// (declared from the field lists of <lumerca/fields.h>), its texts in
// fixed-size buffers behind the fixed fields, each with a NUL after its text.
// The tables hold their records by value in a CArray.

#include <lumerca/fields.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace lumerca::model {

// Raised for an index outside an array: a cross-reference of the marker file
// that names no record.
class IndexOutOfRange : public std::out_of_range {
public:
  using std::out_of_range::out_of_range;
};

// The growable array of the model's tables: holds its elements by value,
// appends copies and checks every indexed access.
template <class T>
class CArray {
public:
  std::size_t GetSize() const noexcept { return items_.size(); }
  bool IsEmpty() const noexcept { return items_.empty(); }

  // Index types vary (signed 16-bit fields, unsigned positions); every one is
  // range-checked before use.
  template <class I>
  T& operator[](I index) { return items_[Checked(index)]; }
  template <class I>
  const T& operator[](I index) const { return items_[Checked(index)]; }

  template <class I>
  bool Contains(I index) const noexcept {
    if constexpr (std::is_signed_v<I>) {
      if (index < 0) return false;
    }
    return static_cast<unsigned long long>(index) < items_.size();
  }

  void Add(const T& item) { items_.push_back(item); }
  void Add(T&& item) { items_.push_back(std::move(item)); }
  void Append(CArray&& other) {
    if (items_.empty()) {
      items_ = std::move(other.items_);
    } else {
      items_.insert(items_.end(), std::make_move_iterator(other.items_.begin()),
                    std::make_move_iterator(other.items_.end()));
    }
  }
  void RemoveAll() noexcept { items_.clear(); }
  void Reserve(std::size_t n) { items_.reserve(n); }

  std::span<const T> View() const noexcept { return items_; }
  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

private:
  template <class I>
  std::size_t Checked(I index) const {
    if (!Contains(index)) throw IndexOutOfRange("array index out of range");
    return static_cast<std::size_t>(index);
  }

  std::vector<T> items_;
};

#define LUMERCA_PACKED_FIELD(type, name, extent) type name extent;
#define LUMERCA_TEXT_BUFFER(name, length, capacity) char name[capacity];
#define LUMERCA_FIELD_BYTES(type, name, extent) +sizeof(type extent)

#pragma pack(push, 1)

struct CStylesElement {
  LUMERCA_STYLE_FIELDS(LUMERCA_PACKED_FIELD)
  LUMERCA_STYLE_TEXTS(LUMERCA_TEXT_BUFFER)
};

struct CSizesElement {
  LUMERCA_SIZE_FIELDS(LUMERCA_PACKED_FIELD)
  LUMERCA_SIZE_TEXTS(LUMERCA_TEXT_BUFFER)
};

struct CClassesElement {
  LUMERCA_CLASS_FIELDS(LUMERCA_PACKED_FIELD)
  LUMERCA_CLASS_TEXTS(LUMERCA_TEXT_BUFFER)
};

struct CCroixesElement {
  LUMERCA_CROIX_FIELDS(LUMERCA_PACKED_FIELD)
};

struct CHalfsElement {
  LUMERCA_HALF_FIELDS(LUMERCA_PACKED_FIELD)
};

// One placed piece; its position in the pieces table is its piece index.
struct CMarkerPiece {
  LUMERCA_PIECE_FIELDS(LUMERCA_PACKED_FIELD)
};

#pragma pack(pop)

// Each record in memory is its fixed part in the stream, then its texts.
static_assert(sizeof(CStylesElement) == 6 + 50);
static_assert(sizeof(CSizesElement) == 16 + 20);
static_assert(sizeof(CClassesElement) == 10 + 512);
static_assert(sizeof(CCroixesElement) == 16);
static_assert(sizeof(CHalfsElement) == 16);
static_assert(sizeof(CMarkerPiece) == 86);

// One table: the count as the stream gave it (or, of a stream cut short, the
// records kept), and its records in stream order.
template <class Element>
struct CTable {
  using CElement = Element;
  std::int16_t Count = 0;
  CArray<CElement> Elements;
};

using CStyles = CTable<CStylesElement>;
using CSizes = CTable<CSizesElement>;
using CClasses = CTable<CClassesElement>;
using CCroixes = CTable<CCroixesElement>;
using CHalfs = CTable<CHalfsElement>;

// The pieces table; it has no count of its own.
class CMarkerPieces : public CArray<CMarkerPiece> {};

// The split table: one element for each .CUTS stream, in the order the walk met
// them.
class CSplits {
public:
  struct CElement {
    // One cut line. In memory each end point holds B before A; the stream
    // holds A before B.
    struct COneSplit {
      float B1 = 0;
      float A1 = 0;
      float B2 = 0;
      float A2 = 0;
      std::uint16_t Raw5 = 0;
      std::uint16_t OffsetCode = 0;
      std::uint16_t Kind = 0;   // 0 and 1: unmoved; otherwise shifted by Offset
      double Offset = 0;        // decoded from OffsetCode
      std::int32_t Side = 0;    // Kind & 1, set on the position file's copy
    };

    std::uint8_t Raw1 = 0;
    std::int16_t SplitCount = 0;
    std::uint16_t Raw3 = 0;
    CArray<COneSplit> Splits;
    std::uint16_t PieceIndex = 0;  // from the number that begins the stream's name
  };

  CArray<CElement> Elements;
};

using COneSplit = CSplits::CElement::COneSplit;

// The bytes of a .CUTS stream's header and of one of its cut lines.
constexpr std::uint64_t kCutsHeaderBytes = 0 LUMERCA_CUTS_HEADER_FIELDS(LUMERCA_FIELD_BYTES);
constexpr std::uint64_t kSplitBytes = 0 LUMERCA_SPLIT_FIELDS(LUMERCA_FIELD_BYTES);
static_assert(kCutsHeaderBytes == 5 && kSplitBytes == 22);

// The streams whose records are read and dropped (CHESS, .CAS): nothing is
// kept of them.
struct CSkippedStreams {};

#undef LUMERCA_PACKED_FIELD
#undef LUMERCA_TEXT_BUFFER

}  // namespace lumerca::model
