#pragma once

// The reader of the .CUTS streams: the cut lines of one piece each, the piece
// named by the number that begins the stream's name.

#include "model/records.h"
#include "readers/primitives.h"

#include <cstdint>
#include <string_view>

namespace lumerca::readers {

// Appends one element to `splits` for the stream `name` (e.g. "12.CUTS"). A
// stream whose name does not begin with a number, or that ends inside its
// 5-byte header, adds nothing; one that ends before its declared splits adds
// the splits that arrived whole, with SplitCount their number.
StreamRead ReadStream(model::CSplits& splits, storage::Stream& stream, std::uint32_t size,
                      std::u16string_view name);

// x raised to the whole power n.
double IntPower(double x, int n);

// The offset distance of a split: 0 for code 0, else 2^(code/128 - 127).
double DecodeOffset(std::uint16_t code);

}  // namespace lumerca::readers
