#pragma once

// The marker model of one import: the MARKER header and every table.

#include "readers/pieces.h"
#include "readers/skipped.h"
#include "readers/splits.h"
#include "readers/tables.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The fixed fields of the MARKER header in stream order, 105 bytes:
// X(type, name, array extent or nothing). CMarker declares its header from this
// list, the reader reads it field by field and the dump shows it.
#define LUMERCA_MARKER_FIXED_FIELDS(X) \
  X(unsigned char, Raw1, [6])          \
  X(float, Width, ) /* millimetres */  \
  X(unsigned char, Raw3, [10])         \
  X(float, ScaleX, )                   \
  X(float, ScaleY, )                   \
  X(unsigned char, Raw6, [18])         \
  X(unsigned char, Raw7, [2])          \
  X(unsigned char, Raw8, [2])          \
  X(unsigned char, Raw9, [2])          \
  X(unsigned char, Raw10, [1])         \
  X(unsigned char, Raw11, [40])        \
  X(std::int16_t, Text1Length, )       \
  X(std::int16_t, NameLength, )        \
  X(std::int16_t, Text3Length, )       \
  X(std::int16_t, Text4Length, )       \
  X(unsigned char, Raw16, [4])

namespace lumerca {

class CPrintfFile;

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

  // Reads one MARKER stream into the header. Of a stream that ends before its
  // layout, the fields that did not arrive read as zero and the texts are cut
  // where the bytes ended.
  StreamRead ReadHeader(storage::Stream& stream, std::uint32_t size);

  // Checks every cross-reference that the writers follow. Throws
  // IndexOutOfRange for the first one that names no record.
  void ValidateIndexes() const;

  // The lines of the position file: one per piece written, one per cut line.
  struct PositionCounts {
    std::size_t pieces = 0;
    std::size_t cut_lines = 0;
  };

  // The two output files, each written in full into an open file.
  void WriteModelOrderFile(CPrintfFile& file) const;
  PositionCounts WritePositionFile(CPrintfFile& file) const;

  // What a size is in the model-and-order file.
  enum ModelKind : std::uint16_t {
    ModelNew = 0,    // the size has pieces, and its class names differ from the previous size's
    ModelSame = 1,   // the previous size's model: the same class names in the same order
    ModelEmpty = 2,  // no piece belongs to the size
  };

  // Replaces the two lists by one model name and one ModelKind per size, in
  // size order.
  void BuildModelList(std::vector<std::string>& model_names,
                      std::vector<std::uint16_t>& model_kinds) const;
};

}  // namespace lumerca
