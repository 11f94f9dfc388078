#pragma once

// The PIECES stream: an unsigned 16-bit count, then one 86-byte record per
// placed piece. A piece's position in the table is its piece index.

#include "readers/carray.h"
#include "readers/primitives.h"

#include <cstdint>

namespace lumerca {

#pragma pack(push, 1)
struct CMarkerPiece {
  unsigned char Raw1[4];
  std::uint8_t Attr2;
  unsigned char Raw3[1];
  float Attr4;
  std::uint8_t Attr5;
  unsigned char Raw6[5];
  float PlaceX;
  float PlaceY;
  unsigned char Raw9[4];
  float MaxY;  // extent in the second coordinate, relative to PlaceY
  float MinY;
  float MaxX;  // extent in the first coordinate, relative to PlaceX
  float MinX;
  std::int16_t CroixIndex;  // a record of CROIXES
  unsigned char Raw15[40];
};
#pragma pack(pop)
static_assert(sizeof(CMarkerPiece) == 86);

// The pieces table; it has no count of its own.
class CMarkerPieces : public CArray<CMarkerPiece> {
public:
  // Appends the pieces of one stream behind those already read; of a stream
  // that ends before its declared records, the pieces that arrived whole.
  StreamRead ReadStream(storage::Stream& stream, std::uint32_t size);
};

}  // namespace lumerca
