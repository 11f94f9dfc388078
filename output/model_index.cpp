#include "output/model_index.h"

#include "output/normalize.h"

namespace lumerca::output {

std::vector<bool> HalfPieces(const CMarker& marker) {
  const std::size_t pieces = marker.m_pieces.GetSize();
  std::vector<bool> half(pieces, false);
  for (const CHalfsElement& record : marker.m_halfs.Elements) {
    // PieceIndex is signed: a negative index names no piece.
    if (record.PieceIndex >= 0 && static_cast<std::size_t>(record.PieceIndex) < pieces) {
      half[static_cast<std::size_t>(record.PieceIndex)] = true;
    }
  }
  return half;
}

std::vector<std::int32_t> FirstSplitElements(const CMarker& marker) {
  const std::size_t pieces = marker.m_pieces.GetSize();
  std::vector<std::int32_t> first(pieces, -1);
  std::int32_t position = 0;
  for (const CSplits::CElement& element : marker.m_splits.Elements) {
    if (element.PieceIndex < pieces && first[element.PieceIndex] < 0) {
      first[element.PieceIndex] = position;
    }
    ++position;
  }
  return first;
}

PiecesBySize::PiecesBySize(const CMarker& marker, const std::vector<bool>& half,
                           bool with_halfs) {
  const std::size_t sizes = marker.m_sizes.Elements.GetSize();
  start_.assign(sizes + 1, 0);
  if (sizes == 0) return;

  // Counting sort by size index: count, turn counts into starts, place.
  const std::size_t pieces = marker.m_pieces.GetSize();
  std::vector<std::int32_t> size_of(pieces, -1);
  for (std::size_t j = 0; j < pieces; ++j) {
    if (half[j] && !with_halfs) continue;
    const CCroixesElement& croix = marker.m_croixes.Elements[marker.m_pieces[j].CroixIndex];
    if (croix.SizeIndex < 0 || static_cast<std::size_t>(croix.SizeIndex) >= sizes) continue;
    size_of[j] = croix.SizeIndex;
    ++start_[static_cast<std::size_t>(croix.SizeIndex) + 1];
  }
  for (std::size_t i = 0; i < sizes; ++i) start_[i + 1] += start_[i];
  pieces_.resize(start_[sizes]);
  std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
  for (std::size_t j = 0; j < pieces; ++j) {
    if (size_of[j] < 0) continue;
    pieces_[fill[static_cast<std::size_t>(size_of[j])]++] = static_cast<std::uint32_t>(j);
  }
}

ClassNames::ClassNames(const CMarker& marker, const platform::CodePage& code_page)
    : marker_(marker),
      code_page_(code_page),
      names_(marker.m_classes.Elements.GetSize()),
      done_(marker.m_classes.Elements.GetSize(), false) {}

const std::string& ClassNames::Of(std::int16_t class_index) {
  const CClassesElement& record = marker_.m_classes.Elements[class_index];
  const auto i = static_cast<std::size_t>(class_index);
  if (!done_[i]) {
    names_[i] = NormalizeName(FieldText(record.Name), code_page_);
    done_[i] = true;
  }
  return names_[i];
}

}  // namespace lumerca::output
