#include "readers/skipped.h"

namespace lumerca::readers {

namespace {

// CHESS record: eight fields of 4 bytes, then one of 6; none is interpreted.
struct ChessRecord {
  unsigned char Fields[8][4];
  unsigned char Last[6];
};
constexpr std::uint64_t kChessRecordBytes = 38;
static_assert(sizeof(ChessRecord) == kChessRecordBytes);

bool ReadChessRecord(LayoutReader& in, ChessRecord& r) {
  for (auto& field : r.Fields) {
    if (!in.Field(field, sizeof field)) return false;
  }
  return in.Field(r, &ChessRecord::Last);
}

// .CAS record: fields of 1, 1, 4, 4, 2, 4 and 4 bytes; none is interpreted.
struct CasRecord {
  unsigned char F1[1], F2[1], F3[4], F4[4], F5[2], F6[4], F7[4];
};
constexpr std::uint64_t kCasRecordBytes = 20;
static_assert(sizeof(CasRecord) == kCasRecordBytes);

bool ReadCasRecord(LayoutReader& in, CasRecord& r) {
  using R = CasRecord;
  return in.Field(r, &R::F1) && in.Field(r, &R::F2) && in.Field(r, &R::F3) && in.Field(r, &R::F4) &&
         in.Field(r, &R::F5) && in.Field(r, &R::F6) && in.Field(r, &R::F7);
}

// Nothing of these streams is used: used_end stays 0.
template <class Record, class ReadRecord>
StreamRead ReadCounted(storage::Stream& stream, std::uint64_t record_bytes, ReadRecord read_record) {
  LayoutReader in(stream);
  std::int16_t count = 0;  // signed: 0 or less means no record
  const bool have_count = in.Field(&count, sizeof count);
  const std::int64_t declared = count > 0 ? count : 0;
  Record work{};
  std::int64_t kept = 0;
  const char* place = have_count ? "" : "the record count";
  std::int64_t place_index = -1;
  for (; kept < declared && !in.ended(); ++kept) {
    if (!read_record(in, work)) {
      place = "record";
      place_index = kept;
      break;
    }
  }
  StreamRead read = in.Result();
  read.declared = 2 + static_cast<std::uint64_t>(declared) * record_bytes;
  read.declared_known = have_count;
  read.place = place;
  read.place_index = place_index;
  read.records = "records";
  read.declared_records = declared;
  read.kept_records = kept;
  return read;
}

}  // namespace

StreamRead SkipCountedRecords(storage::Stream& stream, std::uint32_t record_bytes) {
  struct Dropped {};
  return ReadCounted<Dropped>(stream, record_bytes, [record_bytes](LayoutReader& in, Dropped&) {
    return SkipBytes(in, record_bytes);
  });
}

StreamRead ReadChess(model::CSkippedStreams&, storage::Stream& stream, std::uint32_t /*size*/) {
  return ReadCounted<ChessRecord>(stream, kChessRecordBytes, ReadChessRecord);
}

StreamRead ReadCas(model::CSkippedStreams&, storage::Stream& stream, std::uint32_t /*size*/,
                   std::u16string_view /*name*/) {
  return ReadCounted<CasRecord>(stream, kCasRecordBytes, ReadCasRecord);
}

}  // namespace lumerca::readers
