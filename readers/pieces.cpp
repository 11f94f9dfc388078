#include "readers/pieces.h"

#include <utility>

namespace lumerca {

namespace {

// One 86-byte record, one read per field.
bool ReadPiece(LayoutReader& in, CMarkerPiece& p) {
  return in.Field(p.Raw1, 4) && in.Field(&p.Attr2, 1) && in.Field(p.Raw3, 1) &&
         in.Field(&p.Attr4, 4) && in.Field(&p.Attr5, 1) && in.Field(p.Raw6, 5) &&
         in.Field(&p.PlaceX, 4) && in.Field(&p.PlaceY, 4) && in.Field(p.Raw9, 4) &&
         in.Field(&p.MaxY, 4) && in.Field(&p.MinY, 4) && in.Field(&p.MaxX, 4) &&
         in.Field(&p.MinX, 4) && in.Field(&p.CroixIndex, 2) && in.Field(p.Raw15, 40);
}

}  // namespace

StreamRead CMarkerPieces::ReadStream(storage::Stream& stream, std::uint32_t size) {
  LayoutReader in(stream);
  // Unlike the counted tables, this count is unsigned: 0x8000 is 32768 pieces.
  std::uint16_t count = 0;
  const bool have_count = in.Field(&count, sizeof count);

  CArray<CMarkerPiece> pieces;
  CMarkerPiece work{};
  StreamRead read;
  const char* place = have_count ? "" : "the record count";
  std::int64_t place_index = -1;
  for (unsigned i = 0; i < count && !in.ended(); ++i) {
    if (!ReadPiece(in, work)) {
      place = "piece";
      place_index = i;
      break;
    }
    pieces.Add(work);
  }
  read = in.Result();
  // Every byte is used: each piece is written, or decides what is.
  read.declared = read.used_end = 2 + std::uint64_t{count} * sizeof(CMarkerPiece);
  read.declared_known = have_count;
  read.place = place;
  read.place_index = place_index;
  read.records = "pieces";
  read.declared_records = count;
  read.kept_records = static_cast<std::int64_t>(pieces.GetSize());
  EmptyStreamHoldsNoRecords(read, size);
  Append(std::move(pieces));
  return read;
}

}  // namespace lumerca
