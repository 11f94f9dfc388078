#pragma once

// The .CUTS streams: the cut lines of one piece each, the piece named by the
// number that begins the stream's name.

#include "readers/carray.h"
#include "readers/primitives.h"

#include <cstdint>
#include <string_view>

namespace lumerca {

class CSplits {
public:
  struct CElement {
    struct COneSplit {
      // In memory each end point holds B before A; the stream holds A before B.
      float B1 = 0;
      float A1 = 0;
      float B2 = 0;
      float A2 = 0;
      std::uint16_t Raw5 = 0;
      std::uint16_t OffsetCode = 0;
      std::uint16_t Kind = 0;   // 0 and 1: unmoved; otherwise shifted by Offset
      double Offset = 0;        // decoded from OffsetCode
      std::int32_t Side = 0;    // Kind & 1, set by the position writer on its copy
    };

    std::uint8_t Raw1 = 0;
    std::int16_t SplitCount = 0;
    std::uint16_t Raw3 = 0;
    CArray<COneSplit> Splits;
    std::uint16_t PieceIndex = 0;
  };

  CArray<CElement> Elements;

  // Appends one element for the stream `name` (e.g. "12.CUTS"). A stream
  // whose name does not begin with a number, or that ends inside its 5-byte
  // header, adds nothing; one that ends before its declared splits adds the
  // splits that arrived whole, with SplitCount their number.
  StreamRead ReadStream(storage::Stream& stream, std::uint32_t size, std::u16string_view name);
};

// x raised to the whole power n.
double IntPower(double x, int n);

// The offset distance of a split: 0 for code 0, else 2^(code/128 - 127).
double DecodeOffset(std::uint16_t code);

}  // namespace lumerca
