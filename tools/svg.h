#pragma once

// The marker picture: the marker drawn as a person would look at it, as SVG.

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

// Draws `marker`: a frame as wide as the marker (Width, the second
// coordinate, upwards) and as long as its pieces reach (the first
// coordinate, to the right); each piece as its box at its centre with its
// extent, filled with the colour of its size and labelled with its class
// name (decoded from the ANSI code page); half pieces dashed and paler; the
// cut lines of each piece moved sideways exactly as the position file moves
// them, drawn from the piece's placement; and a legend of the sizes. Each
// piece box carries data-piece (its index), each cut line data-piece and
// data-line (A1 B1 A2 B2 after the shift, as the position file writes them).
SvgCounts WriteSvg(std::ostream& out, const Marker& marker);

}  // namespace lumerca::tools
