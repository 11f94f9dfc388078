#pragma once

// Streams whose records are read and dropped: CHESS and the .CAS streams.

#include "readers/primitives.h"

#include <cstdint>
#include <string_view>

namespace lumerca {

class CSkippedStreams {
public:
  StreamRead ReadChess(storage::Stream& stream, std::uint32_t size);
  StreamRead ReadCas(storage::Stream& stream, std::uint32_t size, std::u16string_view name);
};

}  // namespace lumerca
