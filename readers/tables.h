#pragma once

// The five counted tables: STYLES, SIZES, CLASSES, CROIXES and HALFS. Each
// stream holds a signed 16-bit count, that many fixed records, and (STYLES,
// SIZES, CLASSES) the texts of the records in record order.

#include "readers/carray.h"
#include "readers/primitives.h"

#include <cstdint>

namespace lumerca {

#pragma pack(push, 1)

struct CStylesElement {
  std::int16_t Raw1;
  std::int16_t NameLength;  // at most 49
  std::int16_t Raw3;
  char Name[50];
};

struct CSizesElement {
  unsigned char Raw1[4];
  std::uint8_t SizeNumber;
  unsigned char Raw3[7];
  std::int16_t NameLength;  // at most 19
  std::int16_t Raw5;
  char Name[20];
};

struct CClassesElement {
  unsigned char Raw1[4];
  std::int16_t NameLength;  // at most 255
  std::int16_t TextLength;  // at most 255
  std::int16_t Raw4;
  char Name[256];
  char Text[256];
};

struct CCroixesElement {
  unsigned char Raw1[4];
  std::int16_t SizeIndex;   // a record of SIZES
  std::int16_t ClassIndex;  // a record of CLASSES
  unsigned char Raw4[8];
};

struct CHalfsElement {
  unsigned char Raw1[12];
  std::int16_t Raw2;
  std::int16_t PieceIndex;  // a piece of PIECES, left out of both output files
};

#pragma pack(pop)

static_assert(sizeof(CStylesElement) == 6 + 50);
static_assert(sizeof(CSizesElement) == 16 + 20);
static_assert(sizeof(CClassesElement) == 10 + 512);
static_assert(sizeof(CCroixesElement) == 16);
static_assert(sizeof(CHalfsElement) == 16);

// One table: the count as the stream gave it, and its records in stream order.
template <class Element>
class CTable {
public:
  using CElement = Element;
  std::int16_t Count = 0;
  CArray<CElement> Elements;

  // Appends the records of one stream and sets Count to its count. Of a
  // stream that ends before its declared layout, the records whose fixed part
  // arrived whole are appended (their texts cut where the bytes ended) and
  // Count is the number appended.
  StreamRead ReadStream(storage::Stream& stream, std::uint32_t size);
};

using CStyles = CTable<CStylesElement>;
using CSizes = CTable<CSizesElement>;
using CClasses = CTable<CClassesElement>;
using CCroixes = CTable<CCroixesElement>;
using CHalfs = CTable<CHalfsElement>;

extern template class CTable<CStylesElement>;
extern template class CTable<CSizesElement>;
extern template class CTable<CClassesElement>;
extern template class CTable<CCroixesElement>;
extern template class CTable<CHalfsElement>;

}  // namespace lumerca
