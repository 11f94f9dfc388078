#include "readers/splits.h"

#include <cmath>
#include <utility>

namespace lumerca {

namespace {

// One 22-byte split record. The stream holds each end point A before B.
bool ReadSplit(LayoutReader& in, CSplits::CElement::COneSplit& s) {
  return in.Field(&s.A1, 4) && in.Field(&s.B1, 4) && in.Field(&s.A2, 4) && in.Field(&s.B2, 4) &&
         in.Field(&s.Raw5, 2) && in.Field(&s.OffsetCode, 2) && in.Field(&s.Kind, 2);
}

constexpr std::uint64_t kHeaderBytes = 5;
constexpr std::uint64_t kSplitBytes = 22;

}  // namespace

StreamRead CSplits::ReadStream(storage::Stream& stream, std::uint32_t /*size*/,
                               std::u16string_view name) {
  // The piece is named by the number that begins the stream's name; without
  // one the cut lines belong to no piece.
  const std::optional<int> number = StreamNameNumber(name);
  if (!number) {
    StreamRead skipped;
    skipped.outcome = ReadOutcome::Skipped;
    return skipped;
  }

  LayoutReader in(stream);
  CElement work;
  const bool have_count = in.Field(&work.Raw1, 1) && in.Field(&work.SplitCount, 2);
  const bool have_header = have_count && in.Field(&work.Raw3, 2);
  const std::int64_t declared = work.SplitCount > 0 ? work.SplitCount : 0;
  const char* place = have_header ? "" : "the header";
  std::int64_t place_index = -1;
  CElement::COneSplit split;
  for (std::int64_t i = 0; i < declared && !in.ended(); ++i) {
    if (!ReadSplit(in, split)) {
      place = "cut line";
      place_index = i;
      break;
    }
    split.Offset = DecodeOffset(split.OffsetCode);
    work.Splits.Add(split);
  }

  StreamRead read = in.Result();
  // Every byte is used: the header says how many cut lines the piece has.
  read.declared = read.used_end = kHeaderBytes + static_cast<std::uint64_t>(declared) * kSplitBytes;
  read.declared_known = have_count;
  read.place = place;
  read.place_index = place_index;
  read.records = "cut lines";
  read.declared_records = declared;
  read.kept_records = static_cast<std::int64_t>(work.Splits.GetSize());
  // An element without its whole header is not kept: nothing says how many
  // cut lines it has. One cut short counts the cut lines that arrived.
  if (!have_header) return read;
  if (in.ended()) work.SplitCount = static_cast<std::int16_t>(work.Splits.GetSize());
  // The piece index keeps the low 16 bits: 70000.CUTS names piece 4464.
  work.PieceIndex = static_cast<std::uint16_t>(static_cast<unsigned>(*number) & 0xFFFFu);
  Elements.Add(std::move(work));
  return read;
}

double IntPower(double x, int n) {
  double result = 1.0;
  // |n| as unsigned, defined for INT_MIN too.
  unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
  while (m != 0) {
    if (m & 1u) result *= x;
    m >>= 1;
    if (m != 0) x *= x;
  }
  return n < 0 ? 1.0 / result : result;
}

double DecodeOffset(std::uint16_t code) {
  // The code is 128 times the base-2 logarithm of the distance, plus 16256;
  // code 0 stands for no offset at all.
  if (code == 0) return 0.0;
  return std::pow(4.0, code * 0.00390625) / (2.0 * IntPower(4.0, 63));
}

}  // namespace lumerca
