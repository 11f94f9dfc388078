#pragma once

// What the output files derive from the model, in one place and built once
// per marker, so that the check of the cross-references, both writers, the
// public view of the marker, the dump and the picture all see the same: which
// pieces are half pieces, which size each piece belongs to and the pieces of
// each size, the first split element of each piece, a piece's centre and
// extent, and the cut lines as the position file writes them.

#include "model/marker.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::model {

// The text of a fixed text field: its bytes up to the first NUL.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, static_cast<std::size_t>(std::find(field, field + N, '\0') - field));
}

// A piece's centre (its placement plus the middle of its extent) and extent,
// in double precision from the float fields.
struct PieceBox {
  double centre_x = 0, centre_y = 0, extent_x = 0, extent_y = 0;
};
PieceBox BoxOf(const CMarkerPiece& piece);

// A cut line as the position file writes it: Side set to the lowest bit of
// Kind and, for a Kind other than 0 and 1, the line moved by Offset at right
// angles to itself (with Side 0 to the right of the direction from (A1, B1) to
// (A2, B2), with Side 1 to the left). Each product is rounded to a float before
// it is added, and each sum is stored as a float. A line whose end points
// coincide has no direction and stays where it is.
void ShiftCutLine(COneSplit& split);

// The number of cut lines that a split element declares (none when negative).
inline std::size_t CutLineCount(const CSplits::CElement& element) {
  return element.SplitCount > 0 ? static_cast<std::size_t>(element.SplitCount) : 0;
}

// Appends the first `count` cut lines of `element` to `lines`, each shifted;
// a count beyond the lines held raises IndexOutOfRange.
void AppendShiftedCutLines(const CSplits::CElement& element, std::size_t count,
                           std::vector<COneSplit>& lines);

// The lookups of one model, each built in time linear in its size. Building
// never fails: a piece whose CroixIndex names no record belongs to no size
// here, and CheckIndexes below reports it.
class ModelIndex {
public:
  explicit ModelIndex(const CMarker& marker);

  std::size_t Pieces() const noexcept { return half_.size(); }
  std::size_t Sizes() const noexcept { return start_.size() - 1; }

  // A HALFS record names the piece: it is left out of both files' piece lists.
  bool IsHalf(std::size_t piece) const { return half_[piece]; }

  // The position in m_splits of the first element whose PieceIndex is the
  // piece's index (the one whose cut lines the position file writes), or -1.
  std::int32_t FirstSplit(std::size_t piece) const { return first_split_[piece]; }

  // The size index of the piece (its CROIXES record's SizeIndex), or -1 when
  // it belongs to no size.
  std::int32_t SizeOf(std::size_t piece) const { return size_of_[piece]; }

  // The pieces of size `size_index` in piece-index order, half pieces
  // included.
  std::span<const std::uint32_t> PiecesOf(std::size_t size_index) const {
    return std::span<const std::uint32_t>(pieces_.data() + start_[size_index],
                                          start_[size_index + 1] - start_[size_index]);
  }

private:
  std::vector<bool> half_;
  std::vector<std::int32_t> first_split_;
  std::vector<std::int32_t> size_of_;
  std::vector<std::size_t> start_;  // one per size, and the end
  std::vector<std::uint32_t> pieces_;
};

// Checks every cross-reference that the writers follow: with at least one
// size, the CROIXES record of every piece (half pieces included), the class
// of every piece of a size, and the cut lines of every piece that the position
// file writes. Returns what names no record ("piece 3: CroixIndex 7 is
// outside CROIXES (2 records)"), or an empty text when every reference holds.
std::string CheckIndexes(const CMarker& marker, const ModelIndex& index);

}  // namespace lumerca::model
