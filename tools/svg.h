#pragma once

// The marker picture of lumerca-import --svg: the library's picture of the
// marker (<lumerca/picture.h>) written as SVG.

#include <lumerca/model.h>

#include <cstddef>
#include <iosfwd>

namespace lumerca::tools {

struct SvgCounts {
  std::size_t pieces = 0;     // boxes drawn (rect elements of class "piece")
  std::size_t halfs = 0;      // of them half pieces
  std::size_t cut_lines = 0;  // line elements of class "cut"
  std::size_t left_out = 0;   // pieces or cut lines with a coordinate that is not finite
};

// Writes the picture of `marker` (lumerca::DrawMarker, lumerca::PictureSvg)
// and says what it drew.
SvgCounts WriteSvg(std::ostream& out, const Marker& marker);

}  // namespace lumerca::tools
