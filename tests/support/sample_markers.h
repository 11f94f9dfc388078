#pragma once

// The sample markers that the tests and examples/ share.

#include "tests/support/marker_streams.h"

namespace lumerca::testing {

// Blouse.2: sizes 38, 40, 42 and 44; 38 and 40 with FRONT and BACK, 42 with
// FRONT and SLEEVE, 44 without pieces. FRONT of size 38 is placed and has one
// cut line of kind 2 moved by 0.5.
MarkerRecipe BlouseMarker();

// Six sizes of eight classes (two sizes sharing one model, one size without
// pieces), half pieces, cut lines of every kind, and the streams that the
// import reads past.
MarkerRecipe JacketMarker();

// Blouse with 60 pieces: its PIECES stream (5,162 bytes) lies in regular
// sectors, the other streams in the mini stream.
MarkerRecipe BigBlouse();

}  // namespace lumerca::testing
