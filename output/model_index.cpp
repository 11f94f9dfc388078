#include "output/model_index.h"

#include "output/normalize.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace lumerca::output {

namespace {

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

void ShiftCutLine(COneSplit& split) {
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

void AppendShiftedCutLines(const CSplits::CElement& element, std::size_t count,
                           std::vector<COneSplit>& lines) {
  for (std::size_t k = 0; k < count; ++k) {
    lines.push_back(element.Splits[k]);
    ShiftCutLine(lines.back());
  }
}

PieceBox BoxOf(const CMarkerPiece& piece) {
  const double place_x = static_cast<double>(piece.PlaceX);
  const double place_y = static_cast<double>(piece.PlaceY);
  const double min_x = static_cast<double>(piece.MinX);
  const double max_x = static_cast<double>(piece.MaxX);
  const double min_y = static_cast<double>(piece.MinY);
  const double max_y = static_cast<double>(piece.MaxY);
  return {place_x + (min_x + max_x) * 0.5, place_y + (min_y + max_y) * 0.5, max_x - min_x,
          max_y - min_y};
}

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
