#pragma once

// The reader of the PIECES stream: an unsigned 16-bit count, then one 86-byte
// record per placed piece. A piece's position in the table is its piece index.

#include "model/records.h"
#include "readers/primitives.h"

#include <cstdint>

namespace lumerca::readers {

// Appends the pieces of one stream behind those already read; of a stream
// that ends before its declared records, the pieces that arrived whole.
StreamRead ReadStream(model::CMarkerPieces& pieces, storage::Stream& stream, std::uint32_t size);

}  // namespace lumerca::readers
