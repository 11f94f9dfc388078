#include "readers/pieces.h"

#include <utility>

namespace lumerca::readers {

using namespace model;

namespace {

// One 86-byte record, one read per field, in the order of its field list.
bool ReadPiece(LayoutReader& in, CMarkerPiece& p) {
  using P = CMarkerPiece;
#define LUMERCA_READ_FIELD(type, name, extent) &&in.Field(p, &P::name)
  return true LUMERCA_PIECE_FIELDS(LUMERCA_READ_FIELD);
#undef LUMERCA_READ_FIELD
}

}  // namespace

StreamRead ReadStream(CMarkerPieces& table, storage::Stream& stream, std::uint32_t size) {
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
  table.Append(std::move(pieces));
  return read;
}

}  // namespace lumerca::readers
