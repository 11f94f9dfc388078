// The piece position file ("posimport.txt").
//
// For each size in size order, and within it for each of its pieces that is
// not a half piece in piece-index order, one line
//   class name, size number, Attr5, Attr2, Attr4, centre X, centre Y,
//   extent X, extent Y, number of cut lines
// followed by one line per cut line: A1, B1, A2, B2 (after the shift), Side.

#include "output/writers.h"

namespace lumerca::output {

using model::CMarker;

PositionCounts WritePositionFile(const CMarker& marker, const model::ModelIndex& index,
                                 const platform::CodePage& code_page, CPrintfFile& file) {
  ClassNames classes(marker, code_page);

  // The working copy of one piece's cut lines; the model is never changed.
  std::vector<model::COneSplit> splits;
  PositionCounts counts;

  const std::size_t sizes = marker.m_sizes.Elements.GetSize();
  for (std::size_t i = 0; i < sizes; ++i) {
    const int size_number = marker.m_sizes.Elements[i].SizeNumber;
    for (const std::uint32_t j : index.PiecesOf(i)) {
      if (index.IsHalf(j)) continue;
      const model::CMarkerPiece& piece = marker.m_pieces[j];
      const model::CCroixesElement& croix = marker.m_croixes.Elements[piece.CroixIndex];
      const std::string& class_name = classes.Of(croix.ClassIndex);

      // The first SplitCount cut lines of the piece's first element; a count
      // beyond the lines held raises IndexOutOfRange.
      splits.clear();
      if (index.FirstSplit(j) >= 0) {
        const model::CSplits::CElement& element = marker.m_splits.Elements[index.FirstSplit(j)];
        model::AppendShiftedCutLines(element, model::CutLineCount(element), splits);
      }

      const model::PieceBox box = model::BoxOf(piece);
      file.Printf("%s,%d,%d,%d,%f,%f,%f,%f,%f,%d\n", class_name, size_number,
                  static_cast<int>(piece.Attr5), static_cast<int>(piece.Attr2),
                  static_cast<double>(piece.Attr4), box.centre_x, box.centre_y, box.extent_x,
                  box.extent_y, static_cast<int>(splits.size()));
      for (const model::COneSplit& split : splits) {
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

}  // namespace lumerca::output
