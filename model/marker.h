#pragma once

// The marker model of one import: the MARKER header and every table, as plain
// data. The readers fill it and the writers read it; it does no I/O itself.

#include "model/records.h"

#include <cstdint>

namespace lumerca::model {

class CMarker {
public:
  CMarker() = default;
  CMarker(const CMarker&) = delete;
  CMarker& operator=(const CMarker&) = delete;

  // The MARKER header. It starts zeroed. The fixed fields, in stream order:
#define LUMERCA_DECLARE_FIELD(type, name, extent) type name extent = {};
  LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_DECLARE_FIELD)
#undef LUMERCA_DECLARE_FIELD
  // The texts, which the stream holds in the order Text1, Name, Text3, Text4.
  char Name[256] = {};
  char Text1[256] = {};
  char Text3[256] = {};
  char Text4[256] = {};

  CClasses m_classes;
  CCroixes m_croixes;
  CSizes m_sizes;
  CStyles m_styles;
  CMarkerPieces m_pieces;
  CSplits m_splits;
  CSkippedStreams m_skipped;
  CHalfs m_halfs;

  // What a size is in the model-and-order file.
  enum ModelKind : std::uint16_t {
    ModelNew = 0,    // the size has pieces, and its class names differ from the previous size's
    ModelSame = 1,   // the previous size's model: the same class names in the same order
    ModelEmpty = 2,  // no piece belongs to the size
  };
};

// The fixed part of the MARKER stream.
constexpr std::uint64_t kHeaderFixedBytes = 0 LUMERCA_MARKER_FIXED_FIELDS(LUMERCA_FIELD_BYTES);
static_assert(kHeaderFixedBytes == 105);

}  // namespace lumerca::model
