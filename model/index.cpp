#include "model/index.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace lumerca::model {

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

ModelIndex::ModelIndex(const CMarker& marker) {
  const std::size_t pieces = marker.m_pieces.GetSize();
  const std::size_t sizes = marker.m_sizes.Elements.GetSize();

  half_.assign(pieces, false);
  for (const CHalfsElement& record : marker.m_halfs.Elements) {
    // PieceIndex is signed: a negative index names no piece.
    if (record.PieceIndex >= 0 && static_cast<std::size_t>(record.PieceIndex) < pieces) {
      half_[static_cast<std::size_t>(record.PieceIndex)] = true;
    }
  }

  first_split_.assign(pieces, -1);
  std::int32_t position = 0;
  for (const CSplits::CElement& element : marker.m_splits.Elements) {
    if (element.PieceIndex < pieces && first_split_[element.PieceIndex] < 0) {
      first_split_[element.PieceIndex] = position;
    }
    ++position;
  }

  // Counting sort by size index: count, turn counts into starts, place.
  size_of_.assign(pieces, -1);
  start_.assign(sizes + 1, 0);
  for (std::size_t j = 0; j < pieces; ++j) {
    const std::int16_t croix_index = marker.m_pieces[j].CroixIndex;
    if (!marker.m_croixes.Elements.Contains(croix_index)) continue;
    const std::int16_t size = marker.m_croixes.Elements[croix_index].SizeIndex;
    if (size < 0 || static_cast<std::size_t>(size) >= sizes) continue;
    size_of_[j] = size;
    ++start_[static_cast<std::size_t>(size) + 1];
  }
  for (std::size_t i = 0; i < sizes; ++i) start_[i + 1] += start_[i];
  pieces_.resize(start_[sizes]);
  std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
  for (std::size_t j = 0; j < pieces; ++j) {
    if (size_of_[j] < 0) continue;
    pieces_[fill[static_cast<std::size_t>(size_of_[j])]++] = static_cast<std::uint32_t>(j);
  }
}

namespace {

std::string OutOfRange(std::size_t piece, const char* what, long long index, const char* table,
                       std::size_t records) {
  return "piece " + std::to_string(piece) + ": " + what + ' ' + std::to_string(index) +
         " is outside " + table + " (" + std::to_string(records) + " records)";
}

}  // namespace

// With at least one size, the model list looks up the CROIXES record of every
// piece (half pieces included) and the class of every piece of a size; the
// position file copies the first SplitCount cut lines of every piece that it
// writes. With no size, nothing is followed.
std::string CheckIndexes(const CMarker& marker, const ModelIndex& index) {
  if (marker.m_sizes.Elements.IsEmpty()) return {};
  const std::size_t pieces = marker.m_pieces.GetSize();
  for (std::size_t j = 0; j < pieces; ++j) {
    const std::int16_t croix_index = marker.m_pieces[j].CroixIndex;
    if (!marker.m_croixes.Elements.Contains(croix_index)) {
      return OutOfRange(j, "CroixIndex", croix_index, "CROIXES", marker.m_croixes.Elements.GetSize());
    }
    if (index.SizeOf(j) < 0) continue;  // in no size: never written
    const CCroixesElement& croix = marker.m_croixes.Elements[croix_index];
    if (!marker.m_classes.Elements.Contains(croix.ClassIndex)) {
      return OutOfRange(j, "ClassIndex", croix.ClassIndex, "CLASSES",
                        marker.m_classes.Elements.GetSize());
    }
    if (index.IsHalf(j) || index.FirstSplit(j) < 0) continue;
    const CSplits::CElement& element = marker.m_splits.Elements[index.FirstSplit(j)];
    if (CutLineCount(element) > element.Splits.GetSize()) {
      return OutOfRange(j, "SplitCount", element.SplitCount, "its cut lines", element.Splits.GetSize());
    }
  }
  return {};
}

}  // namespace lumerca::model
