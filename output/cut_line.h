#pragma once

#include "entry/marker.h"

namespace lumerca::output {

// A cut line as the position file writes it: Side set to the lowest bit of
// Kind and, for a Kind other than 0 and 1, the line moved by Offset at right
// angles to itself (with Side 0 to the right of the direction from (A1, B1) to
// (A2, B2), with Side 1 to the left). Each product is rounded to a float before
// it is added, and each sum is stored as a float. A line whose end points
// coincide has no direction and stays where it is.
void ShiftCutLine(CSplits::CElement::COneSplit& split);

}  // namespace lumerca::output
