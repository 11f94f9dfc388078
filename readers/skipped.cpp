#include "readers/skipped.h"

namespace lumerca {

namespace {

// CHESS record: eight fields of 4 bytes, then one of 6; none is interpreted.
struct ChessRecord {
  unsigned char Fields[8][4];
  unsigned char Last[6];
};

bool ReadChessRecord(storage::Stream& stream, ChessRecord& r) {
  for (auto& field : r.Fields) {
    if (!ReadField(stream, field, 4)) return false;
  }
  return ReadField(stream, r.Last, 6);
}

// .CAS record: fields of 1, 1, 4, 4, 2, 4 and 4 bytes; none is interpreted.
struct CasRecord {
  unsigned char F1[1], F2[1], F3[4], F4[4], F5[2], F6[4], F7[4];
};

bool ReadCasRecord(storage::Stream& stream, CasRecord& r) {
  return ReadField(stream, r.F1, 1) && ReadField(stream, r.F2, 1) && ReadField(stream, r.F3, 4) &&
         ReadField(stream, r.F4, 4) && ReadField(stream, r.F5, 2) && ReadField(stream, r.F6, 4) &&
         ReadField(stream, r.F7, 4);
}

template <class Record, class ReadRecord>
ReadOutcome ReadCounted(storage::Stream& stream, ReadRecord read_record) {
  std::int16_t count = 0;  // signed: 0 or less means no record
  if (!ReadField(stream, &count, sizeof count)) return ReadOutcome::Short;
  Record work{};
  for (int i = 0; i < count; ++i) {
    if (!read_record(stream, work)) return ReadOutcome::Short;
  }
  return ReadOutcome::Read;
}

}  // namespace

ReadOutcome CSkippedStreams::ReadChess(storage::Stream& stream, std::uint32_t /*size*/) {
  return ReadCounted<ChessRecord>(stream, ReadChessRecord);
}

ReadOutcome CSkippedStreams::ReadCas(storage::Stream& stream, std::uint32_t /*size*/,
                                     std::u16string_view /*name*/) {
  return ReadCounted<CasRecord>(stream, ReadCasRecord);
}

}  // namespace lumerca
