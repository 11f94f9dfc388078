// The piece position file ("posimport.txt").
//
// For each size in size order, and within it for each of its pieces that is
// not a half piece in piece-index order, one line
//   class name, size number, Attr5, Attr2, Attr4, centre X, centre Y,
//   extent X, extent Y, number of cut lines
// followed by one line per cut line: A1, B1, A2, B2 (after the shift), Side.

#include "entry/marker.h"
#include "output/model_index.h"
#include "output/printf_file.h"
#include "platform/codepage.h"


namespace lumerca {

namespace {

// The number of cut lines that a split element declares (none when negative).
std::size_t CutLineCount(const CSplits::CElement& element) {
  return element.SplitCount > 0 ? static_cast<std::size_t>(element.SplitCount) : 0;
}

}  // namespace

CMarker::PositionCounts CMarker::WritePositionFile(CPrintfFile& file) const {
  const std::vector<bool> half = output::HalfPieces(*this);
  const output::PiecesBySize by_size(*this, half, /*with_halfs=*/false);
  output::ClassNames classes(*this, platform::CurrentCodePage());
  const std::vector<std::int32_t> first_split = output::FirstSplitElements(*this);

  // The working copy of one piece's cut lines; the model is never changed.
  std::vector<output::COneSplit> splits;
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
        output::AppendShiftedCutLines(element, CutLineCount(element), splits);
      }

      const output::PieceBox box = output::BoxOf(piece);
      file.Printf("%s,%d,%d,%d,%f,%f,%f,%f,%f,%d\n", class_name, size_number,
                  static_cast<int>(piece.Attr5), static_cast<int>(piece.Attr2),
                  static_cast<double>(piece.Attr4), box.centre_x, box.centre_y, box.extent_x,
                  box.extent_y, static_cast<int>(splits.size()));
      for (const output::COneSplit& split : splits) {
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
