#include "readers/splits.h"

#include <cmath>
#include <utility>

namespace lumerca {

namespace {

// One 22-byte split record. The stream holds each end point A before B.
bool ReadSplit(storage::Stream& stream, CSplits::CElement::COneSplit& s) {
  return ReadField(stream, &s.A1, 4) && ReadField(stream, &s.B1, 4) &&
         ReadField(stream, &s.A2, 4) && ReadField(stream, &s.B2, 4) &&
         ReadField(stream, &s.Raw5, 2) && ReadField(stream, &s.OffsetCode, 2) &&
         ReadField(stream, &s.Kind, 2);
}

}  // namespace

ReadOutcome CSplits::ReadStream(storage::Stream& stream, std::uint32_t /*size*/,
                                std::u16string_view name) {
  // The piece is named by the number that begins the stream's name; without
  // one the cut lines belong to no piece.
  const std::optional<int> number = StreamNameNumber(name);
  if (!number) return ReadOutcome::Skipped;

  CElement work;
  if (!ReadField(stream, &work.Raw1, 1) || !ReadField(stream, &work.SplitCount, 2) ||
      !ReadField(stream, &work.Raw3, 2)) {
    return ReadOutcome::Short;
  }
  CElement::COneSplit split;
  for (int i = 0; i < work.SplitCount; ++i) {
    if (!ReadSplit(stream, split)) return ReadOutcome::Short;
    split.Offset = DecodeOffset(split.OffsetCode);
    work.Splits.Add(split);
  }
  // The piece index keeps the low 16 bits: 70000.CUTS names piece 4464.
  work.PieceIndex = static_cast<std::uint16_t>(static_cast<unsigned>(*number) & 0xFFFFu);

  Elements.Add(std::move(work));
  return ReadOutcome::Read;
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
