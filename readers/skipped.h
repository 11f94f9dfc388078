#pragma once

// Streams whose records are read and dropped: CHESS and the .CAS streams, and
// any stream of a count and records of one width.

#include "model/records.h"
#include "readers/primitives.h"

#include <cstdint>
#include <string_view>

namespace lumerca::readers {

StreamRead ReadChess(model::CSkippedStreams& skipped, storage::Stream& stream, std::uint32_t size);
StreamRead ReadCas(model::CSkippedStreams& skipped, storage::Stream& stream, std::uint32_t size,
                   std::u16string_view name);

// A stream of a signed 16-bit count, then that many records of `record_bytes`
// bytes, each consumed with SkipBytes and dropped. Nothing of it is used.
StreamRead SkipCountedRecords(storage::Stream& stream, std::uint32_t record_bytes);

}  // namespace lumerca::readers
