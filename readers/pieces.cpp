#include "readers/pieces.h"

#include <utility>

namespace lumerca {

namespace {

// One 86-byte record, one read per field.
bool ReadPiece(storage::Stream& stream, CMarkerPiece& p) {
  return ReadField(stream, p.Raw1, 4) && ReadField(stream, &p.Attr2, 1) &&
         ReadField(stream, p.Raw3, 1) && ReadField(stream, &p.Attr4, 4) &&
         ReadField(stream, &p.Attr5, 1) && ReadField(stream, p.Raw6, 5) &&
         ReadField(stream, &p.PlaceX, 4) && ReadField(stream, &p.PlaceY, 4) &&
         ReadField(stream, p.Raw9, 4) && ReadField(stream, &p.MaxY, 4) &&
         ReadField(stream, &p.MinY, 4) && ReadField(stream, &p.MaxX, 4) &&
         ReadField(stream, &p.MinX, 4) && ReadField(stream, &p.CroixIndex, 2) &&
         ReadField(stream, p.Raw15, 40);
}

}  // namespace

ReadOutcome CMarkerPieces::ReadStream(storage::Stream& stream, std::uint32_t /*size*/) {
  // Unlike the counted tables, this count is unsigned: 0x8000 is 32768 pieces.
  std::uint16_t count = 0;
  if (!ReadField(stream, &count, sizeof count)) return ReadOutcome::Short;

  CArray<CMarkerPiece> pieces;
  CMarkerPiece work{};
  for (unsigned i = 0; i < count; ++i) {
    if (!ReadPiece(stream, work)) return ReadOutcome::Short;
    pieces.Add(work);
  }
  Append(std::move(pieces));
  return ReadOutcome::Read;
}

}  // namespace lumerca
