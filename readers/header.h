#pragma once

// The reader of the MARKER stream: 105 bytes of fixed fields, then the four
// texts in the order Text1, Name, Text3, Text4.

#include "model/marker.h"
#include "readers/primitives.h"

#include <cstdint>

namespace lumerca::readers {

// Reads one MARKER stream into the header of `marker`. Of a stream that ends
// before its layout, the fields that did not arrive read as zero and the
// texts are cut where the bytes ended.
StreamRead ReadHeader(model::CMarker& marker, storage::Stream& stream, std::uint32_t size);

}  // namespace lumerca::readers
