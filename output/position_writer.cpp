// The piece position file ("posimport.txt").
//
// For each size in size order, and within it for each of its pieces that is
// not a half piece in piece-index order, one line
//   class name, size number, Attr5, Attr2, Attr4, centre X, centre Y,
//   extent X, extent Y, number of cut lines
// followed by one line per cut line: A1, B1, A2, B2 (after the shift), Side.

#include "entry/marker.h"
#include "output/cut_line.h"
#include "output/model_index.h"
#include "output/printf_file.h"
#include "platform/codepage.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace lumerca {
namespace {

using COneSplit = CSplits::CElement::COneSplit;

// A double rounded to the nearest float, as IEEE conversion rounds it, also
// beyond the float range (where a plain conversion is undefined in C++).
float ToFloat(double value) {
  if (std::isfinite(value) && std::fabs(value) > static_cast<double>(FLT_MAX)) {
    // Halfway between FLT_MAX and 2^128 rounds to even, that is to infinity.
    const double rounded = std::fabs(value) >= 0x1.ffffffp127
                               ? static_cast<double>(std::numeric_limits<float>::infinity())
                               : static_cast<double>(FLT_MAX);
    return static_cast<float>(std::copysign(rounded, value));
  }
  return static_cast<float>(value);
}

}  // namespace

void output::ShiftCutLine(COneSplit& split) {
  split.Side = split.Kind & 1;
  if (split.Kind == 0 || split.Kind == 1) return;
  double d_b = static_cast<double>(split.B2) - static_cast<double>(split.B1);
  double d_a = static_cast<double>(split.A1) - static_cast<double>(split.A2);
  if (split.Side == 1) {
    d_b = -d_b;
    d_a = -d_a;
  }
  const double length = std::sqrt(d_b * d_b + d_a * d_a);
  if (length == 0) return;
  const double along_a = static_cast<double>(ToFloat(split.Offset * (d_b / length)));
  const double along_b = static_cast<double>(ToFloat(split.Offset * (d_a / length)));
  split.A1 = ToFloat(static_cast<double>(split.A1) + along_a);
  split.A2 = ToFloat(static_cast<double>(split.A2) + along_a);
  split.B1 = ToFloat(static_cast<double>(split.B1) + along_b);
  split.B2 = ToFloat(static_cast<double>(split.B2) + along_b);
}

CMarker::PositionCounts CMarker::WritePositionFile(CPrintfFile& file) const {
  const std::vector<bool> half = output::HalfPieces(*this);
  const output::PiecesBySize by_size(*this, half, /*with_halfs=*/false);
  output::ClassNames classes(*this, platform::CurrentCodePage());
  const std::vector<std::int32_t> first_split = output::FirstSplitElements(*this);

  // The working copy of one piece's cut lines; the model is never changed.
  std::vector<COneSplit> splits;
  PositionCounts counts;

  const std::size_t sizes = m_sizes.Elements.GetSize();
  for (std::size_t i = 0; i < sizes; ++i) {
    const int size_number = m_sizes.Elements[i].SizeNumber;
    for (const std::uint32_t j : by_size.Of(i)) {
      const CMarkerPiece& piece = m_pieces[j];
      const CCroixesElement& croix = m_croixes.Elements[piece.CroixIndex];
      const std::string& class_name = classes.Of(croix.ClassIndex);

      // The first SplitCount cut lines of the piece's first element; a count
      // beyond the lines held raises IndexOutOfRange.
      splits.clear();
      if (first_split[j] >= 0) {
        const CSplits::CElement& element = m_splits.Elements[first_split[j]];
        for (std::int32_t k = 0; k < element.SplitCount; ++k) splits.push_back(element.Splits[k]);
      }
      for (COneSplit& split : splits) output::ShiftCutLine(split);

      const double place_x = static_cast<double>(piece.PlaceX);
      const double place_y = static_cast<double>(piece.PlaceY);
      const double min_x = static_cast<double>(piece.MinX);
      const double max_x = static_cast<double>(piece.MaxX);
      const double min_y = static_cast<double>(piece.MinY);
      const double max_y = static_cast<double>(piece.MaxY);
      file.Printf("%s,%d,%d,%d,%f,%f,%f,%f,%f,%d\n", class_name, size_number,
                  static_cast<int>(piece.Attr5), static_cast<int>(piece.Attr2),
                  static_cast<double>(piece.Attr4), place_x + (min_x + max_x) * 0.5,
                  place_y + (min_y + max_y) * 0.5, max_x - min_x, max_y - min_y,
                  static_cast<int>(splits.size()));
      for (const COneSplit& split : splits) {
        file.Printf("%f,%f,%f,%f,%d\n", static_cast<double>(split.A1),
                    static_cast<double>(split.B1), static_cast<double>(split.A2),
                    static_cast<double>(split.B2), static_cast<int>(split.Side));
      }
      ++counts.pieces;
      counts.cut_lines += splits.size();
    }
  }
  return counts;
}

}  // namespace lumerca
