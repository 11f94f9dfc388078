#pragma once

// What the writers derive from the model, in one place so that the dump and
// the picture show what the files say: the lookups (each built once per file
// in time linear in the size of the model: the half pieces, the pieces of each
// size, the first split element of each piece, the normalised class names), a
// piece's centre and extent, and the cut lines as the position file writes
// them.

#include "entry/marker.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumerca::platform {
class CodePage;
}

namespace lumerca::output {

// The text of a fixed text field: its bytes up to the first NUL.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, static_cast<std::size_t>(std::find(field, field + N, '\0') - field));
}

using COneSplit = CSplits::CElement::COneSplit;

// For every piece index, whether a HALFS record names it.
std::vector<bool> HalfPieces(const CMarker& marker);

// For every piece index, the position in m_splits of the first element whose
// PieceIndex is that piece's index, or -1.
std::vector<std::int32_t> FirstSplitElements(const CMarker& marker);

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

// Appends the first `count` cut lines of `element` to `lines`, each shifted;
// a count beyond the lines held raises IndexOutOfRange.
void AppendShiftedCutLines(const CSplits::CElement& element, std::size_t count,
                           std::vector<COneSplit>& lines);

// The pieces of every size, each group in piece-index order. A piece belongs
// to size i when its CROIXES record has SizeIndex i; a piece whose SizeIndex
// names no size is in no group. With `with_halfs`, half pieces are grouped too
// (and their CroixIndex looked up); without, they are left out. CroixIndex is
// looked up with checked access (IndexOutOfRange), and not at all when the
// model has no size.
class PiecesBySize {
public:
  PiecesBySize(const CMarker& marker, const std::vector<bool>& half, bool with_halfs);

  std::span<const std::uint32_t> Of(std::size_t size_index) const {
    return std::span<const std::uint32_t>(pieces_.data() + start_[size_index],
                                          start_[size_index + 1] - start_[size_index]);
  }

private:
  std::vector<std::size_t> start_;  // one per size, and the end
  std::vector<std::uint32_t> pieces_;
};

// NormalizeName of each class Name in `code_page`, computed when first asked
// for. The ClassIndex is checked (IndexOutOfRange).
class ClassNames {
public:
  ClassNames(const CMarker& marker, const platform::CodePage& code_page);

  const std::string& Of(std::int16_t class_index);

private:
  const CMarker& marker_;
  const platform::CodePage& code_page_;
  std::vector<std::string> names_;
  std::vector<bool> done_;
};

}  // namespace lumerca::output
