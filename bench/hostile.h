#pragma once

// The worst cases of the catalogue of hostile inputs (tests/support), as whole
// documents: each holds a small valid marker (so that the import goes through
// to its output) beside the hostile part; and the largest valid marker.

#include "tests/support/hostile_catalogue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumerca::bench {

using testing::HostileShape;
using testing::HostileShapes;

struct HostileCase {
  std::string name;
  std::string what;
  std::function<testing::ByteVector()> build;
};

// The catalogue's shapes at their catalogue sizes, then the largest valid
// marker. `largest_cut_streams`: the number of .CUTS streams of 32,767 splits
// in it.
std::vector<HostileCase> HostileCases(std::size_t largest_cut_streams, std::uint64_t seed);

}  // namespace lumerca::bench
